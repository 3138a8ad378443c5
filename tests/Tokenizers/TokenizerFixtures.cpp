#include "TokenizerFixtures.hpp"

#include "support/TemporaryDirectory.hpp"

#include <cstdio>
#include <iterator>

namespace fixtures {

using nlohmann::json;

namespace {

bool printable(int byte)
{
    return (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

std::string characterOf(int byte)
{
    int code = byte;
    if (!printable(byte)) {
        code = 0x100;
        for (int other = 0; other < byte; ++other) {
            code += printable(other) ? 0 : 1;
        }
    }
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

} // namespace

int baseId(unsigned char byte)
{
    int id = 0;
    for (int other = 0; other < 256; ++other) {
        if (printable(other) == printable(byte) && other < byte) {
            ++id;
        }
    }
    return printable(byte) ? id : 188 + id;
}

const std::vector<std::string>& whisperMerges()
{
    // "Ġ" is the blank's character, "Ã ©" the two characters of é's UTF-8 bytes.
    static const std::vector<std::string> merges {
        "Ġ t",     // 256 Ġt
        "h e",     // 257 he
        "Ġt he",   // 258 Ġthe
        "l l",     // 259 ll
        "e ll",    // 260 ell
        "H ell",   // 261 Hell
        "Hell o",  // 262 Hello
        "Ġ w",     // 263 Ġw
        "o r",     // 264 or
        "Ġw or",   // 265 Ġwor
        "Ġwor l",  // 266 Ġworl
        "Ġworl d", // 267 Ġworld
        "Ã ©",     // 268 é
        "c a",     // 269 ca
        "ca f",    // 270 caf
        "caf Ã©",  // 271 café
        "Ġ caf",   // 272 Ġcaf
        "Ġcaf Ã©", // 273 Ġcafé
        "Ġ Ġ",     // 274 ĠĠ
        "i s",     // 275 is
        "Ġ is",    // 276 Ġis
    };
    return merges;
}

json bpeData(const json& vocab, const json& merges)
{
    return json {{"version", "1.0"}, {"model", {{"type", "BPE"}, {"vocab", vocab}, {"merges", merges}}}};
}

WhisperLayout WhisperLayout::compact()
{
    return {256 + static_cast<int>(whisperMerges().size()), true};
}

json whisperTokenizerData(WhisperLayout layout)
{
    json vocab = json::object();
    for (int byte = 0; byte < 256; ++byte) {
        vocab[characterOf(byte)] = baseId(static_cast<unsigned char>(byte));
    }
    const auto& merges = whisperMerges();
    for (std::size_t i = 0; i < merges.size(); ++i) {
        const std::string& line = merges[i];
        const std::size_t blank = line.find(' ');
        vocab[line.substr(0, blank) + line.substr(blank + 1)] = 256 + static_cast<int>(i);
    }

    json added = json::array();
    auto add = [&](const std::string& content, int id) {
        added.push_back({{"id", id}, {"content", content}, {"single_word", false}, {"lstrip", false},
            {"rstrip", false}, {"normalized", false}, {"special", true}});
    };
    const int eot = layout.endOfText;
    add("<|endoftext|>", eot);
    add("<|startoftranscript|>", eot + 1);
    // Whisper's language order.
    static const char* languages[] = {"en", "zh", "de", "es", "ru", "ko", "fr", "ja", "pt", "tr", "pl", "ca", "nl",
        "ar", "sv", "it", "id", "hi", "fi", "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta", "no", "th", "ur",
        "hr", "bg", "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr", "az", "sl", "kn", "et", "mk", "br",
        "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw", "gl", "mr", "pa", "si", "km", "sn", "yo", "so", "af", "oc",
        "ka", "be", "tg", "sd", "gu", "am", "yi", "lo", "uz", "fo", "ht", "ps", "tk", "nn", "mt", "sa", "lb", "my", "bo",
        "tl", "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su"};
    static_assert(std::size(languages) == 99);
    const int languageCount = layout.allLanguages ? 99 : 8;
    for (int i = 0; i < languageCount; ++i) {
        add(std::string("<|") + languages[i] + "|>", eot + 2 + i);
    }
    add("<|translate|>", eot + 101);
    add("<|transcribe|>", eot + 102);
    add("<|startoflm|>", eot + 103);
    add("<|startofprev|>", eot + 104);
    add("<|nocaptions|>", eot + 105);
    add("<|notimestamps|>", eot + 106);
    for (int step = 0; step <= 1500; ++step) {
        char text[16];
        std::snprintf(text, sizeof text, "<|%d.%02d|>", step / 50, (step % 50) * 2);
        add(text, layout.timeTokenBegin() + step);
    }

    json data = bpeData(vocab, merges);
    data["added_tokens"] = added;
    data["normalizer"] = nullptr;
    data["pre_tokenizer"] = {{"type", "ByteLevel"}, {"add_prefix_space", false}, {"trim_offsets", true}, {"use_regex", true}};
    data["post_processor"] = {{"type", "ByteLevel"}, {"add_prefix_space", true}, {"trim_offsets", false}, {"use_regex", true}};
    data["decoder"] = {{"type", "ByteLevel"}, {"add_prefix_space", true}, {"trim_offsets", true}, {"use_regex", true}};
    data["model"]["dropout"] = nullptr;
    data["model"]["unk_token"] = nullptr;
    return data;
}

json whisperTokenizerConfig(const std::string& tokenizerClass)
{
    json endOfText = {{"__type", "AddedToken"}, {"content", "<|endoftext|>"}, {"lstrip", false}, {"normalized", true},
        {"rstrip", false}, {"single_word", false}};
    return json {{"tokenizer_class", tokenizerClass}, {"bos_token", endOfText}, {"eos_token", endOfText},
        {"unk_token", endOfText}, {"pad_token", endOfText}, {"clean_up_tokenization_spaces", true},
        {"model_max_length", 1024}, {"add_prefix_space", false}};
}

void writeWhisperTokenizerFolder(const std::filesystem::path& folder, WhisperLayout layout)
{
    testsupport::writeFile(
        folder / "config.json", json {{"model_type", "whisper"}, {"vocab_size", layout.vocabularySize()}}.dump());
    testsupport::writeFile(folder / "tokenizer.json", whisperTokenizerData(layout).dump());
    testsupport::writeFile(folder / "tokenizer_config.json", whisperTokenizerConfig("WhisperTokenizerFast").dump());
}

} // namespace fixtures
