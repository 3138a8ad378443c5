#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ml {

// A byte-level Whisper-style tokenizer folder: "tokenizer.json", "tokenizer_config.json" and
// "config.json", laid out like Whisper's for a model whose logits have `vocabularySize` entries.
// Text tokens come first: the 256 byte characters (printable bytes in byte order, so the blank's
// "Ġ" is 220), then the merged tokens. The control tokens end the vocabulary: <|endoftext|>,
// <|startoftranscript|>, the language tokens in Whisper's order, <|translate|>, <|transcribe|>,
// <|startoflm|>, <|startofprev|>, <|nocaptions|> (<|nospeech|> with 100 languages),
// <|notimestamps|> and the 1501 timestamps <|0.00|> to <|30.00|>. So 51865 gives the multilingual
// ids (<|endoftext|> 50257), 51864 the English-only ones (50256), and from 51866 Cantonese is the
// hundredth language, as in large-v3.
struct WhisperTokenizerFiles {
    static constexpr int timestampCount = 1501;

    int vocabularySize = 51865;
    // "left right" merges applied first: merge i makes token 256 + i.
    std::vector<std::string> merges;
    // Adds generated merges of pseudo-syllables ("ba", "Ġba", "bako", "Ġbako", ...) after `merges`
    // until every id below <|endoftext|> is a token, so that any text id decodes to text.
    bool fillVocabulary = true;
    // Lists only the first this many languages; their ids and the later tokens' stay the same.
    std::optional<int> listedLanguages;
    std::string tokenizerClass = "WhisperTokenizer";

    // 99, or 100 from the large-v3 vocabulary size on.
    int languageCount() const;
    // The first control token; every id below it is text.
    int endOfTextId() const;

    // Throws std::invalid_argument naming what cannot make a tokenizer.
    void validate() const;

    nlohmann::json tokenizerData() const;
    nlohmann::json tokenizerConfig() const;
    nlohmann::json modelConfig() const;

    // Creates the folder if needed and writes the three files into it.
    void write(const std::filesystem::path& folder) const;
};

} // namespace ml
