// audio-memory-bench: the peak resident memory of loading long recordings the engine's way, each
// measured in a child process of its own. See README.md.
//
//   audio_memory_bench [--hours H]... [--transcribe] [--keep]

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/VADAudioChunker.hpp"
#include "Auris/Engine/Auris.hpp"
#include "tools/auris-transcribe/TranscribeCommand.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperTokenizerFiles.hpp"
#include "support/BenchFigures.hpp"

#include <sys/statvfs.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path makeTemporaryFolder()
{
    std::string pattern = (fs::temp_directory_path() / "audio-memory-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    return pattern;
}

// A silent FLAC recording of `hours`: tiny on disk, hours of samples once decoded.
fs::path makeRecording(const fs::path& folder, double hours, int rate, int channels)
{
    const auto file = folder / ("silence-" + std::to_string(rate) + "-" + std::to_string(channels) + ".flac");
    const std::string command = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 '" + file.string()
        + "' trim 0 " + std::to_string(hours * 3600) + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("sox failed; is it installed?");
    }
    return file;
}

struct Measurement {
    double peakMegabytes = 0;
    double seconds = 0;
    bool succeeded = false;
};

// Runs the step in a child and reads the child's peak resident set size.
Measurement inChild(const std::function<void()>& step)
{
    const auto start = Clock::now();
    const testsupport::ChildRun run = testsupport::runInChild([&] {
        step();
        return 0;
    });
    return {run.peakResidentMiB, std::chrono::duration<double>(Clock::now() - start).count(), run.exitStatus == 0};
}

void report(const std::string& what, double hours, const Measurement& measured)
{
    const double copyMegabytes = hours * 3600 * 16000 * sizeof(float) / (1024.0 * 1024.0);
    std::printf("  %-44s peak RSS %7.0f MiB = %4.2f copies of the 16 kHz samples (%6.0f MiB), %6.1f s%s\n", what.c_str(),
        measured.peakMegabytes, measured.peakMegabytes / copyMegabytes, copyMegabytes, measured.seconds,
        measured.succeeded ? "" : "  FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<double> hours;
    bool transcribe = false;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--hours" && i + 1 < argc) {
            hours.push_back(std::stod(argv[++i]));
        } else if (argument == "--transcribe") {
            transcribe = true;
        } else if (argument == "--keep") {
            keep = true;
        } else {
            std::cerr << "usage: audio_memory_bench [--hours H]... [--transcribe] [--keep]\n";
            return 2;
        }
    }
    if (hours.empty()) {
        hours = {1, 6};
    }
    try {
        const auto folder = makeTemporaryFolder();
        struct statvfs space {};
        if (::statvfs(folder.c_str(), &space) == 0) {
            std::cout << "temporary folder " << folder << ": " << space.f_bavail * space.f_frsize / (1 << 20) << " MiB free\n";
        }
        fs::path modelFolder;
        fs::path tokenizerFolder;
        if (transcribe) {
            const auto shape = ml::WhisperShape::preset("tiny");
            modelFolder = folder / "openai_whisper-tiny";
            tokenizerFolder = folder / "tokenizers";
            ml::WhisperModelSet::write(modelFolder, shape, ml::MultiArrayDataType::float16, ml::randomWhisperWeights(1));
            ml::WhisperTokenizerFiles {.vocabularySize = shape.vocabularySize}.write(tokenizerFolder / "models/openai/whisper-tiny");
        }
        for (const double length : hours) {
            for (const auto& [rate, channels] : {std::pair {16000, 1}, std::pair {44100, 2}}) {
                const auto start = Clock::now();
                const auto file = makeRecording(folder, length, rate, channels);
                std::printf("\n== %.1f h, %d Hz, %d channel(s): %s, %.0f MiB, written in %.1f s\n", length, rate, channels,
                    file.filename().c_str(), static_cast<double>(fs::file_size(file)) / (1 << 20),
                    std::chrono::duration<double>(Clock::now() - start).count());
                const std::string path = file.string();
                report("loadAudioSamples + VAD chunk views", length, inChild([&] {
                    const auto samples = auris::AudioProcessor::loadAudioSamples(path);
                    auris::VADAudioChunker chunker;
                    const auto ranges = chunker.chunkRanges(samples, auris::Auris::windowSamples, std::nullopt);
                    std::printf("  (%zu samples, %zu chunks)\n", samples.size(), ranges.size());
                }));
                report("loadAudio + convertBufferToArray", length, inChild([&] {
                    auto buffer = auris::AudioProcessor::loadAudio(path);
                    const auto samples = auris::AudioProcessor::convertBufferToArray(buffer, 1024);
                }));
                if (transcribe) {
                    report("auris-transcribe --chunking vad (tiny model)", length, inChild([&] {
                        std::ostringstream out;
                        std::ostringstream err;
                        if (auris::runTranscribeCommand({"--model-folder", modelFolder.string(), "--tokenizer-folder",
                                                            tokenizerFolder.string(), "--language", "en", "--chunking", "vad",
                                                            "--quiet", path},
                                out, err)
                            != 0) {
                            throw std::runtime_error(err.str());
                        }
                    }));
                }
                fs::remove(file);
            }
        }
        if (keep) {
            std::cout << "\nkept " << folder << "\n";
        } else {
            fs::remove_all(folder);
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "audio-memory-bench: " << error.what() << "\n";
        return 1;
    }
}
