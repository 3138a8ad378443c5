#include "FuzzTokenizers.hpp"

#include "tools/make-model/WhisperTokenizerFiles.hpp"

namespace fuzztokenizers {

using nlohmann::json;

TokenizerFiles whisperBpe()
{
    ml::WhisperTokenizerFiles files;
    files.merges = {"Ġ t", "h e", "Ġt he", "i n", "Ġ a", "e r", "o n", "Ġ w", "r e", "Ġ s", "a t", "e n", "Ġ c", "i s", "Ġ is"};
    files.fillVocabulary = false;
    files.listedLanguages = 4;
    files.vocabularySize = 256 + static_cast<int>(files.merges.size()) + 1608;
    return {"whisper-bpe", files.tokenizerConfig(), files.tokenizerData()};
}

TokenizerFiles bertWordPiece()
{
    json vocab = {{"[PAD]", 0}, {"[UNK]", 1}, {"[CLS]", 2}, {"[SEP]", 3}, {"[MASK]", 4}, {"hello", 5}, {",", 6}, {"world", 7},
        {"!", 8}, {"un", 9}, {"##aff", 10}, {"##able", 11}, {"caf\xC3\xA9", 12}, {"cafe", 13}, {"\xE4\xB8\xAD", 14},
        {"\xE6\x96\x87", 15}, {"the", 16}, {"##s", 17}, {"##ing", 18}, {".", 19}};
    json data = {{"model", {{"type", "WordPiece"}, {"unk_token", "[UNK]"}, {"continuing_subword_prefix", "##"},
                     {"max_input_chars_per_word", 100}, {"vocab", vocab}}},
        {"normalizer", {{"type", "Bert"}, {"clean_text", true}, {"handle_chinese_chars", true}, {"lowercase", true}}},
        {"pre_tokenizer", {{"type", "Sequence"}, {"pretokenizers", json::array({{{"type", "Whitespace"}}, {{"type", "Punctuation"}}})}}},
        {"added_tokens", json::array({{{"id", 0}, {"content", "[PAD]"}, {"special", true}},
                             {{"id", 2}, {"content", "[CLS]"}, {"special", true}}, {{"id", 3}, {"content", "[SEP]"}, {"special", true}}})}};
    json config = {{"tokenizer_class", "BertTokenizer"}, {"do_lower_case", true}, {"unk_token", "[UNK]"}, {"cls_token", "[CLS]"},
        {"sep_token", "[SEP]"}, {"pad_token", "[PAD]"}};
    return {"bert-wordpiece", config, data};
}

TokenizerFiles t5Unigram()
{
    json vocab = json::array({json::array({"<pad>", 0.0}), json::array({"</s>", 0.0}), json::array({"<unk>", 0.0}),
        json::array({"\xE2\x96\x81", -2.0}), json::array({"a", -3.0}), json::array({"b", -4.0}), json::array({"ab", -2.5}),
        json::array({"\xE2\x96\x81the", -1.5}), json::array({"\xE2\x96\x81" "a", -2.2}), json::array({"c", -4.5}),
        json::array({"\xC3\xA9", -3.5}), json::array({"\xE2\x96\x81hello", -1.0}), json::array({"s", -3.0}),
        json::array({".", -2.0})});
    json data = {{"model", {{"type", "Unigram"}, {"unk_id", 2}, {"vocab", vocab}}},
        {"normalizer", {{"type", "Sequence"}, {"normalizers", json::array({{{"type", "NFKC"}},
                           {{"type", "Replace"}, {"pattern", {{"Regex", " {2,}"}}}, {"content", " "}}})}}},
        {"pre_tokenizer", {{"type", "Metaspace"}, {"replacement", "\xE2\x96\x81"}, {"add_prefix_space", true},
                              {"prepend_scheme", "always"}}},
        {"decoder", {{"type", "Metaspace"}, {"replacement", "\xE2\x96\x81"}, {"add_prefix_space", true}}},
        {"post_processor", {{"type", "TemplateProcessing"},
                               {"single", json::array({{{"Sequence", {{"id", "A"}, {"type_id", 0}}}},
                                              {{"SpecialToken", {{"id", "</s>"}, {"type_id", 0}}}}})},
                               {"pair", json::array({{{"Sequence", {{"id", "A"}, {"type_id", 0}}}},
                                            {{"Sequence", {{"id", "B"}, {"type_id", 0}}}}, {{"SpecialToken", {{"id", "</s>"}, {"type_id", 0}}}}})}}},
        {"added_tokens", json::array({{{"id", 0}, {"content", "<pad>"}, {"special", true}},
                             {{"id", 1}, {"content", "</s>"}, {"special", true}}, {{"id", 2}, {"content", "<unk>"}, {"special", true}}})}};
    json config = {{"tokenizer_class", "T5Tokenizer"}, {"eos_token", "</s>"}, {"unk_token", "<unk>"}, {"pad_token", "<pad>"}};
    return {"t5-unigram", config, data};
}

const std::vector<std::string>& sampleTexts()
{
    static const std::vector<std::string> texts {
        "Hello, world!",
        "The cat is on the mat.",
        "  runs   of blanks\tand\nnew lines ",
        "caf\xC3\xA9 na\xC3\xAFve \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD",
        "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C \xE4\xB8\xAD\xE6\x96\x87",
        "emoji \xF0\x9F\x98\x80\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9",
        "<|endoftext|><|startoftranscript|> [CLS] hello [SEP] </s>",
        "unaffable 12345 don't",
    };
    return texts;
}

} // namespace fuzztokenizers
