#include "bench/transcribe/WhisperTokenizerFiles.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace bench {

namespace {

using nlohmann::json;

bool printable(int byte)
{
    return (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

std::string utf8(int code)
{
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

void write(const std::filesystem::path& path, const json& value)
{
    std::ofstream file(path);
    file << value.dump();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace

void writeWhisperTokenizerFiles(const std::filesystem::path& folder)
{
    // The byte-level alphabet: printable bytes stand for themselves, the rest move past 255.
    json vocab = json::object();
    int next = 0;
    for (int byte = 0; byte < 256; ++byte) {
        if (printable(byte)) vocab[utf8(byte)] = next++;
    }
    int moved = 0;
    for (int byte = 0; byte < 256; ++byte) {
        if (!printable(byte)) vocab[utf8(256 + moved++)] = next++;
    }

    json added = json::array();
    auto add = [&](const std::string& content, int id) {
        added.push_back({{"id", id}, {"content", content}, {"single_word", false}, {"lstrip", false}, {"rstrip", false},
            {"normalized", false}, {"special", true}});
    };
    add("<|endoftext|>", 50257);
    add("<|startoftranscript|>", 50258);
    const char* languages[] = {"en", "zh", "de", "es", "ru", "ko", "fr", "ja"};
    for (int i = 0; i < 8; ++i) {
        add(std::string("<|") + languages[i] + "|>", 50259 + i);
    }
    add("<|translate|>", 50358);
    add("<|transcribe|>", 50359);
    add("<|startoflm|>", 50360);
    add("<|startofprev|>", 50361);
    add("<|nocaptions|>", 50362);
    add("<|notimestamps|>", 50363);
    for (int step = 0; step <= 1500; ++step) {
        char text[16];
        std::snprintf(text, sizeof text, "<|%d.%02d|>", step / 50, (step % 50) * 2);
        add(text, 50364 + step);
    }

    const json byteLevel = {{"type", "ByteLevel"}, {"add_prefix_space", false}, {"trim_offsets", true}, {"use_regex", true}};
    const json data = {{"version", "1.0"}, {"added_tokens", added}, {"normalizer", nullptr},
        {"pre_tokenizer", byteLevel}, {"post_processor", byteLevel}, {"decoder", byteLevel},
        {"model", {{"type", "BPE"}, {"vocab", vocab}, {"merges", json::array()}, {"dropout", nullptr}, {"unk_token", nullptr}}}};
    const json endOfText = {{"__type", "AddedToken"}, {"content", "<|endoftext|>"}, {"lstrip", false},
        {"normalized", true}, {"rstrip", false}, {"single_word", false}};
    const json config = {{"tokenizer_class", "WhisperTokenizer"}, {"bos_token", endOfText}, {"eos_token", endOfText},
        {"unk_token", endOfText}, {"pad_token", endOfText}, {"model_max_length", 1024}};

    std::filesystem::create_directories(folder);
    write(folder / "tokenizer.json", data);
    write(folder / "tokenizer_config.json", config);
    write(folder / "config.json", json {{"model_type", "whisper"}, {"vocab_size", 51865}});
}

} // namespace bench
