// make-model: writes Whisper model folder sets for the runtime.
//
//   make-model synthetic --output DIR [--preset tiny|base|small] [--vocabulary N] [--width N]
//       [--layers N] [--heads N] [--mels N] [--audio-samples N] [--text-context N]
//       [--cache-length N] [--alignment-heads L:H,...] [--seed N] [--precision float16|float32]
//       [--tokens-per-window N]
//   make-model convert --checkpoint FILE.safetensors|model.safetensors.index.json --output DIR [--config FILE]
//       [--generation-config FILE] [--heads N] [--cache-length N] [--alignment-heads L:H,...]
//       [--precision float16|float32]
//   make-model tokenizer --output DIR [--vocabulary N]
//
// The engine looks for a model's tokenizer in its tokenizer folder under
// "models/openai/whisper-<size>", the size being the one it recognises from the model's vocabulary
// and width (a tiny-shaped model with the 51865-entry vocabulary reads "whisper-tiny").

#include "platform/ml/compiler/CheckpointConverter.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperTokenizerFiles.hpp"

#include <charconv>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

namespace {

const char* usage = "usage: make-model synthetic --output DIR [--preset tiny|base|small] [--vocabulary N] [--width N]\n"
                    "           [--layers N] [--heads N] [--mels N] [--audio-samples N] [--text-context N]\n"
                    "           [--cache-length N] [--alignment-heads L:H,...] [--seed N] [--precision float16|float32]\n"
                    "           [--tokens-per-window N]\n"
                    "       make-model convert --checkpoint FILE.safetensors|INDEX.json --output DIR [--config FILE]\n"
                    "           [--generation-config FILE] [--heads N] [--cache-length N] [--alignment-heads L:H,...]\n"
                    "           [--precision float16|float32]\n"
                    "       make-model tokenizer --output DIR [--vocabulary N]\n";

long long number(const std::string& option, const std::string& text)
{
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw std::invalid_argument(option + " needs a whole number, not \"" + text + "\"");
    }
    return value;
}

int smallNumber(const std::string& option, const std::string& text)
{
    const long long value = number(option, text);
    if (value < 0 || value > 100000000) {
        throw std::invalid_argument(option + " is out of range");
    }
    return static_cast<int>(value);
}

std::vector<std::pair<int, int>> headList(const std::string& text)
{
    std::vector<std::pair<int, int>> heads;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) {
            throw std::invalid_argument("--alignment-heads takes layer:head pairs separated by commas");
        }
        heads.emplace_back(smallNumber("--alignment-heads", item.substr(0, colon)),
            smallNumber("--alignment-heads", item.substr(colon + 1)));
        start = comma + 1;
    }
    return heads;
}

ml::MultiArrayDataType precision(const std::string& text)
{
    if (text == "float16") return ml::MultiArrayDataType::float16;
    if (text == "float32") return ml::MultiArrayDataType::float32;
    throw std::invalid_argument("--precision is float16 or float32");
}

int run(int argc, char** argv)
{
    if (argc < 2) {
        throw std::invalid_argument("no command");
    }
    const std::string command = argv[1];
    std::map<std::string, std::string> options;
    for (int i = 2; i < argc; i += 2) {
        const std::string key = argv[i];
        if (key.rfind("--", 0) != 0 || i + 1 >= argc) {
            throw std::invalid_argument("options come as --name value pairs");
        }
        options[key] = argv[i + 1];
    }
    auto take = [&](const std::string& key) -> std::optional<std::string> {
        auto it = options.find(key);
        if (it == options.end()) {
            return std::nullopt;
        }
        std::string value = it->second;
        options.erase(it);
        return value;
    };
    const auto output = take("--output");
    if (!output) {
        throw std::invalid_argument("--output is required");
    }
    auto takePrecision = [&] { return precision(take("--precision").value_or("float16")); };

    if (command == "synthetic") {
        const auto storage = takePrecision();
        ml::WhisperShape shape = ml::WhisperShape::preset(take("--preset").value_or("tiny"));
        if (auto v = take("--vocabulary")) shape.vocabularySize = smallNumber("--vocabulary", *v);
        if (auto v = take("--width")) shape.width = smallNumber("--width", *v);
        if (auto v = take("--layers")) shape.audioLayers = shape.textLayers = smallNumber("--layers", *v);
        if (auto v = take("--heads")) shape.audioHeads = shape.textHeads = smallNumber("--heads", *v);
        if (auto v = take("--mels")) shape.melCount = smallNumber("--mels", *v);
        if (auto v = take("--audio-samples")) shape.audioSamples = smallNumber("--audio-samples", *v);
        if (auto v = take("--text-context")) shape.textContext = smallNumber("--text-context", *v);
        if (auto v = take("--cache-length")) shape.cacheLength = smallNumber("--cache-length", *v);
        if (auto v = take("--alignment-heads")) shape.alignmentHeads = headList(*v);
        const auto seed = static_cast<std::uint64_t>(number("--seed", take("--seed").value_or("0")));
        ml::TensorSource weights = ml::randomWhisperWeights(seed);
        if (auto v = take("--tokens-per-window")) {
            const int endToken = ml::WhisperTokenizerFiles {.vocabularySize = shape.vocabularySize}.endOfTextId();
            weights = ml::endingWindowsAt(std::move(weights), smallNumber("--tokens-per-window", *v), endToken, shape.vocabularySize);
        }
        if (!options.empty()) {
            throw std::invalid_argument("unknown option " + options.begin()->first);
        }
        ml::WhisperModelSet::write(*output, shape, storage, weights);
        return 0;
    }
    if (command == "convert") {
        const auto storage = takePrecision();
        const auto checkpoint = take("--checkpoint");
        if (!checkpoint) {
            throw std::invalid_argument("--checkpoint is required");
        }
        ml::CheckpointConverter::Options settings;
        settings.storage = storage;
        if (auto v = take("--config")) settings.configFile = *v;
        if (auto v = take("--generation-config")) settings.generationConfigFile = *v;
        if (auto v = take("--heads")) settings.audioHeads = settings.textHeads = smallNumber("--heads", *v);
        if (auto v = take("--cache-length")) settings.cacheLength = smallNumber("--cache-length", *v);
        if (auto v = take("--alignment-heads")) settings.alignmentHeads = headList(*v);
        if (!options.empty()) {
            throw std::invalid_argument("unknown option " + options.begin()->first);
        }
        ml::CheckpointConverter converter(*checkpoint, settings);
        converter.write(*output);
        const auto& shape = converter.shape();
        std::cout << "wrote " << *output << ": width " << shape.width << ", " << shape.audioLayers << "+" << shape.textLayers
                  << " layers, vocabulary " << shape.vocabularySize << ", " << shape.melCount << " mel bands\n";
        return 0;
    }
    if (command == "tokenizer") {
        ml::WhisperTokenizerFiles files;
        if (auto v = take("--vocabulary")) files.vocabularySize = smallNumber("--vocabulary", *v);
        if (!options.empty()) {
            throw std::invalid_argument("unknown option " + options.begin()->first);
        }
        files.write(*output);
        return 0;
    }
    throw std::invalid_argument("unknown command \"" + command + "\"");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::cerr << "make-model: " << error.what() << "\n" << usage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "make-model: " << error.what() << "\n";
        return 1;
    }
}
