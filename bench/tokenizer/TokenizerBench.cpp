// Encoding speed and load time of a byte-level BPE tokenizer of realistic size.
//
// The tokenizer is made here, not downloaded: ~50k merges learned from generated English-like text,
// a vocabulary of the 256 byte characters plus every merged token, and the Whisper control tokens
// as added tokens, giving a tokenizer.json of about 2-3 MB.

#include "BpeTrainer.hpp"
#include "SyntheticText.hpp"

#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/ByteEncoder.hpp"
#include "Tokenizers/PreTokenizers.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr std::size_t mergeCount = 50000;

json whisperAddedTokens(int firstId)
{
    json added = json::array();
    int id = firstId;
    auto add = [&](const std::string& content) {
        added.push_back({{"id", id++}, {"content", content}, {"single_word", false}, {"lstrip", false}, {"rstrip", false},
            {"normalized", false}, {"special", true}});
    };
    add("<|endoftext|>");
    add("<|startoftranscript|>");
    for (const char* code : {"en", "zh", "de", "es", "ru", "ko", "fr", "ja", "pt", "tr", "pl", "ca", "nl", "ar", "sv", "it"}) {
        add(std::string("<|") + code + "|>");
    }
    for (const char* control : {"<|translate|>", "<|transcribe|>", "<|startoflm|>", "<|startofprev|>", "<|nospeech|>", "<|notimestamps|>"}) {
        add(control);
    }
    for (int step = 0; step <= 1500; ++step) {
        char text[16];
        std::snprintf(text, sizeof text, "<|%d.%02d|>", step / 50, (step % 50) * 2);
        add(text);
    }
    return added;
}

// Writes the three files into a fresh folder and returns it; reports how long training took.
fs::path makeTokenizerFolder()
{
    const auto start = std::chrono::steady_clock::now();
    const std::string corpus = bench::syntheticText(6u << 20, 7);
    const tokenizers::ByteLevelPreTokenizer preTokenizer(hub::Config(json::object()));
    std::unordered_map<std::string, long> counts;
    for (auto& piece : preTokenizer.preTokenize(corpus)) {
        ++counts[std::move(piece)];
    }
    const auto merges = bench::learnMerges(counts, mergeCount);

    json vocab = json::object();
    const auto& encoder = tokenizers::byteEncoder();
    // Base ids in the usual order: printable bytes first, then the others.
    int next = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int byte = 0; byte < 256; ++byte) {
            const bool printable = (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE);
            if (printable == (pass == 0)) {
                vocab[encoder[static_cast<std::size_t>(byte)]] = next++;
            }
        }
    }
    json mergeLines = json::array();
    for (const auto& [a, b] : merges) {
        vocab[a + b] = next++;
        mergeLines.push_back(a + " " + b);
    }
    json data = {{"version", "1.0"}, {"added_tokens", whisperAddedTokens(next + 1)}, {"normalizer", nullptr},
        {"pre_tokenizer", {{"type", "ByteLevel"}, {"add_prefix_space", false}, {"trim_offsets", true}, {"use_regex", true}}},
        {"post_processor", {{"type", "ByteLevel"}, {"trim_offsets", false}}},
        {"decoder", {{"type", "ByteLevel"}}},
        {"model", {{"type", "BPE"}, {"dropout", nullptr}, {"unk_token", nullptr}, {"vocab", vocab}, {"merges", mergeLines}}}};

    const fs::path folder = fs::temp_directory_path() / ("parlino-tokenizer-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / "tokenizer.json") << data.dump(2); // indented, as published files are
    std::ofstream(folder / "tokenizer_config.json") << json {{"tokenizer_class", "WhisperTokenizer"}, {"unk_token", "<|endoftext|>"},
        {"bos_token", "<|endoftext|>"}, {"eos_token", "<|endoftext|>"}}.dump();
    std::ofstream(folder / "config.json") << json {{"model_type", "whisper"}}.dump();

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cerr << "tokenizer.json: " << merges.size() << " merges, " << fs::file_size(folder / "tokenizer.json") / 1024
              << " KiB, made in " << seconds << " s\n";
    return folder;
}

// TOKENIZER_BENCH_FOLDER names a folder to keep the made tokenizer in and reuse on later runs.
const char* keptFolder()
{
    return std::getenv("TOKENIZER_BENCH_FOLDER");
}

const fs::path& tokenizerFolder()
{
    static const fs::path folder = [] {
        if (keptFolder() && fs::exists(fs::path(keptFolder()) / "tokenizer.json")) {
            return fs::path(keptFolder());
        }
        const fs::path made = makeTokenizerFolder();
        if (keptFolder()) {
            fs::create_directories(keptFolder());
            fs::copy(made, keptFolder(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
            fs::remove_all(made);
            return fs::path(keptFolder());
        }
        return made;
    }();
    return folder;
}

const std::vector<std::string>& paragraphs()
{
    static const std::vector<std::string> list = [] {
        const std::string text = bench::syntheticText(10u << 20, 2024);
        std::vector<std::string> out;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            out.push_back(text.substr(start, end - start));
            start = end;
        }
        return out;
    }();
    return list;
}

void BM_LoadTokenizer(benchmark::State& state)
{
    const fs::path& folder = tokenizerFolder();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tokenizers::AutoTokenizer::from(folder));
    }
    state.counters["tokenizer_json_MB"] = static_cast<double>(fs::file_size(folder / "tokenizer.json")) / 1e6;
}

void BM_EncodeMixedEnglish(benchmark::State& state)
{
    const auto tokenizer = tokenizers::AutoTokenizer::from(tokenizerFolder());
    std::size_t bytes = 0;
    std::size_t tokens = 0;
    for (const auto& paragraph : paragraphs()) {
        bytes += paragraph.size();
    }
    for (auto _ : state) {
        tokens = 0;
        for (const auto& paragraph : paragraphs()) {
            tokens += tokenizer->encode(paragraph).size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["bytes_per_token"] = static_cast<double>(bytes) / static_cast<double>(tokens);
}

void BM_DecodeMixedEnglish(benchmark::State& state)
{
    const auto tokenizer = tokenizers::AutoTokenizer::from(tokenizerFolder());
    std::vector<std::vector<int>> encoded;
    std::size_t bytes = 0;
    for (const auto& paragraph : paragraphs()) {
        encoded.push_back(tokenizer->encode(paragraph));
        bytes += paragraph.size();
    }
    for (auto _ : state) {
        for (const auto& ids : encoded) {
            benchmark::DoNotOptimize(tokenizer->decode(ids));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

} // namespace

BENCHMARK(BM_LoadTokenizer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeMixedEnglish)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeMixedEnglish)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    tokenizerFolder();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!keptFolder()) {
        std::error_code ignored;
        fs::remove_all(tokenizerFolder(), ignored);
    }
    return 0;
}
