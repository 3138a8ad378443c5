// transcribe-bench: auris-transcribe over minutes of espeak-ng speech with synthetic models of the
// tiny, base and small shapes (real vocabulary, seeded random weights). Prints the real-time factor,
// the per-stage timings and the peak resident size. See README.md.
//
//   transcribe-bench [--minutes N] [--preset tiny|base|small]... [--workers N] [--tokens-per-window N|full]
//       [--deterministic] [--keep]

#include "Auris/Audio/AudioProcessor.hpp"
#include "tools/auris-transcribe/TranscribeCommand.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperTokenizerFiles.hpp"
#include "support/BenchFigures.hpp"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const std::vector<std::string> sentences {
    "The committee met on Tuesday to review the budget for the coming year.",
    "Several members asked whether the new library would open before the winter holidays.",
    "A light rain fell over the harbour while the fishing boats returned with their catch.",
    "Please remember to bring your notes, a pencil and something to drink.",
    "The engineer explained that the bridge had been designed to carry twice the expected load.",
    "After lunch we walked along the river and talked about the books we had read.",
    "Numbers such as seventeen, forty two and one thousand are read out in full.",
    "The museum will show paintings, photographs and a small collection of old maps.",
    "She opened the window, listened for a moment, and then went back to her work.",
    "Trains to the north leave every half hour from the second platform.",
};

std::filesystem::path makeTemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "transcribe-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    return pattern;
}

double audioSeconds(const std::filesystem::path& file)
{
    return auris::AudioProcessor::loadAudio(file.string()).frameLength() / 16000.0;
}

// Speech of at least `minutes` minutes, made by espeak-ng from repeated sentences.
std::filesystem::path makeSpeech(const std::filesystem::path& folder, double minutes)
{
    const auto text = folder / "speech.txt";
    const auto speech = folder / "speech.wav";
    std::size_t repeats = static_cast<std::size_t>(minutes) + 1;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::ofstream file(text);
        for (std::size_t i = 0; i < repeats * sentences.size(); ++i) {
            file << sentences[i % sentences.size()] << "\n";
        }
        file.close();
        const std::string command = "espeak-ng -v en -w '" + speech.string() + "' -f '" + text.string() + "'";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("espeak-ng failed; is it installed?");
        }
        const double seconds = audioSeconds(speech);
        if (seconds >= minutes * 60) {
            return speech;
        }
        repeats = static_cast<std::size_t>(static_cast<double>(repeats) * minutes * 60 / seconds) + 1;
    }
    throw std::runtime_error("espeak-ng made less speech than asked for");
}

// The total milliseconds of one stage line of the command's timings ("  Decoding:  123.45 ms / ..."),
// or a negative number when the stage is missing.
double stageMilliseconds(const std::string& timings, const std::string& stage)
{
    std::istringstream lines(timings);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(' ');
        if (start != std::string::npos && line.compare(start, stage.size(), stage) == 0) {
            return std::stod(line.substr(start + stage.size()));
        }
    }
    return -1;
}

double stageRuns(const std::string& timings, const std::string& stage)
{
    std::istringstream lines(timings);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(' ');
        const auto slash = line.find('/');
        if (start != std::string::npos && slash != std::string::npos && line.compare(start, stage.size(), stage) == 0) {
            return std::stod(line.substr(slash + 1));
        }
    }
    return -1;
}

// What each decoding step costs outside the decoder model, as the command's timings name it: the
// logit filters, the sampler and the cache copies.
void printPerStepOverhead(const std::string& timings)
{
    const double steps = stageRuns(timings, "Decoding:");
    const double filtering = stageMilliseconds(timings, "- Logit Filtering:");
    const double sampling = stageMilliseconds(timings, "- Sampling:");
    const double caching = stageMilliseconds(timings, "- Kv Caching:");
    if (steps <= 0 || filtering < 0 || sampling < 0 || caching < 0) {
        return;
    }
    std::cout << "  per step outside predictions: " << (filtering + sampling + caching) / steps * 1e3 << " us (filtering "
              << filtering / steps * 1e3 << ", sampling " << sampling / steps * 1e3 << ", cache copies " << caching / steps * 1e3
              << ") over " << steps << " steps\n";
}

struct Run {
    std::filesystem::path folder;
    std::filesystem::path speech;
    std::string workers;
    bool deterministic = false;
    // Where the models end a window (its prompt counted); none: at the length limit.
    std::optional<int> tokensPerWindow = 80;
};

std::filesystem::path modelFolderOf(const Run& run, const std::string& preset)
{
    const std::string ending = run.tokensPerWindow ? std::to_string(*run.tokensPerWindow) : "full";
    return run.folder / (preset + "-" + ending) / ("openai_whisper-" + preset);
}

int writeModels(const Run& run, const std::string& preset)
{
    const auto shape = ml::WhisperShape::preset(preset);
    const auto start = Clock::now();
    const ml::WhisperTokenizerFiles tokenizer {.vocabularySize = shape.vocabularySize};
    ml::TensorSource weights = ml::randomWhisperWeights(1);
    if (run.tokensPerWindow) {
        weights = ml::endingWindowsAt(std::move(weights), *run.tokensPerWindow, tokenizer.endOfTextId(), shape.vocabularySize);
    }
    ml::WhisperModelSet::write(modelFolderOf(run, preset), shape, ml::MultiArrayDataType::float16, weights);
    tokenizer.write(run.folder / "tokenizers/models/openai" / ("whisper-" + preset));
    std::cout << "\n== " << preset << "-shaped model (width " << shape.width << ", " << shape.audioLayers << " + "
              << shape.textLayers << " layers, windows ending "
              << (run.tokensPerWindow ? "at token " + std::to_string(*run.tokensPerWindow) : std::string("at the length limit"))
              << "), written in " << secondsSince(start) << " s\n";
    return 0;
}

int transcribe(const Run& run, const std::string& preset)
{
    std::vector<std::string> arguments {"--model-folder", modelFolderOf(run, preset).string(), "--tokenizer-folder",
        (run.folder / "tokenizers").string(), "--language", "en", "--workers", run.workers, "--verbose"};
    if (run.deterministic) {
        arguments.push_back("--no-fallback");
    }
    arguments.push_back(run.speech.string());
    std::ostringstream text, timings;
    const int status = auris::runTranscribeCommand(arguments, text, timings);
    std::cout << timings.str();
    printPerStepOverhead(timings.str());
    std::cout << "  peak resident: " << testsupport::peakResidentMiB() << " MiB (load average " << testsupport::loadAverage()
              << ")\n";
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    double minutes = 10;
    std::vector<std::string> presets;
    Run run {.workers = "0"};
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--minutes" && i + 1 < argc) {
            minutes = std::stod(argv[++i]);
        } else if (argument == "--preset" && i + 1 < argc) {
            presets.push_back(argv[++i]);
        } else if (argument == "--workers" && i + 1 < argc) {
            run.workers = argv[++i];
        } else if (argument == "--tokens-per-window" && i + 1 < argc) {
            const std::string value = argv[++i];
            run.tokensPerWindow = value == "full" ? std::nullopt : std::optional<int>(std::stoi(value));
        } else if (argument == "--deterministic") {
            run.deterministic = true;
        } else if (argument == "--keep") {
            keep = true;
        } else {
            std::cerr << "usage: transcribe-bench [--minutes N] [--preset tiny|base|small]... [--workers N]"
                         " [--tokens-per-window N|full] [--deterministic] [--keep]\n";
            return 2;
        }
    }
    if (presets.empty()) {
        presets = {"tiny", "base"};
    }

    try {
        run.folder = makeTemporaryFolder();
        const auto start = Clock::now();
        run.speech = makeSpeech(run.folder, minutes);
        std::cout << "speech: " << audioSeconds(run.speech) << " s generated in " << secondsSince(start) << " s\n";

        int status = 0;
        for (const auto& preset : presets) {
            // Each in a process of its own: the transcription's peak resident size leaves the
            // model writer's buffers out.
            status |= testsupport::runInChild([&] { return writeModels(run, preset); }).exitStatus;
            status |= testsupport::runInChild([&] { return transcribe(run, preset); }).exitStatus;
        }
        if (keep) {
            std::cout << "\nkept " << run.folder << "\n";
        } else {
            std::filesystem::remove_all(run.folder);
        }
        return status;
    } catch (const std::exception& error) {
        std::cerr << "transcribe-bench: " << error.what() << "\n";
        return 1;
    }
}
