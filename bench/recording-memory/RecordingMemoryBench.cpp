// recording-memory-bench: the resident memory of a long recording through the recorder, while it
// records and afterwards (finishing the file, preprocessing, the engine's reading of the audio),
// against what the engine's own reading of the same file takes alone. Each run is a process of
// its own. See README.md.
//
//   recording-memory-bench [--hours 2]
#include "app/recorder/WhisperRecorder.hpp"

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/VADAudioChunker.hpp"
#include "Auris/Engine/Auris.hpp"
#include "platform/audio/FakeAudioCapture.hpp"
#include "support/RecorderBenchRuns.hpp"
#include "platform/settings/UserDefaults.hpp"
#include "support/BenchFigures.hpp"

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int rate = 16000;
// Handed to the fake microphone at a time, as a live one delivers them (it holds at most 30 s).
constexpr int partSeconds = 10;

// The resident size now (VmRSS), in MiB.
double residentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024;
        }
    }
    return NAN;
}

// Speech-like audio made part by part, so that the benchmark itself holds no more than one part:
// a wandering tone over low noise, with pauses.
class SpeechLikeAudio {
public:
    std::vector<float> next(std::size_t frames)
    {
        std::vector<float> samples(frames);
        for (float& sample : samples) {
            const double t = static_cast<double>(frame_++) / rate;
            const bool speaking = std::fmod(t, 4.0) < 3.2;
            phase_ += 2 * M_PI * (180 + 60 * std::sin(2 * M_PI * 0.7 * t)) / rate;
            sample = (speaking ? 0.3f * static_cast<float>(std::sin(phase_)) : 0.0f) + noise_(random_);
        }
        return samples;
    }

private:
    std::mt19937 random_ {7};
    std::normal_distribution<float> noise_ {0.0f, 0.01f};
    double phase_ = 0;
    std::size_t frame_ = 0;
};

// Reads the audio as the engine does before it decodes: the whole file as one 16 kHz mono array, cut
// into voice-activity chunks that are views of it.
class ReadingTranscriber final : public parlino::SpeechTranscriber {
public:
    std::vector<auris::TranscriptionResult> transcribe(const std::string& audioPath, const auris::DecodingOptions&,
        const ProgressCallback&, std::stop_token) override
    {
        const auto samples = auris::AudioProcessor::loadAudioSamples(audioPath);
        auris::VADAudioChunker chunker;
        const auto ranges = chunker.chunkRanges(samples, auris::Auris::windowSamples, std::nullopt);
        auris::TranscriptionResult result;
        result.text = "We went through the quarterly budget and agreed on the next steps for the launch, "
                      + std::to_string(ranges.size()) + " chunks.";
        return {result};
    }
};

struct Figures {
    double ready = 0;
    double recordingPeak = 0;
    double afterPeak = 0;
};

// One recording of `hours` through the recorder, in this process; the peaks are VmHWM.
Figures recordThrough(const fs::path& folder, double hours, bool preprocessing)
{
    int argc = 1;
    char name[] = "recording-memory-bench";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    platform::UserDefaults defaults(folder / "parlino.conf");
    auto microphone = std::make_shared<platform::FakeAudioCapture>(
        std::vector<platform::AudioInputDevice> {{1, "mic", "Microphone", true, {static_cast<std::uint32_t>(rate), 1}}});
    auto engine = std::make_shared<ReadingTranscriber>();
    parlino::WhisperRecorder::Dependencies dependencies;
    dependencies.captureSource = microphone;
    dependencies.makeTranscriber = [engine](const parlino::TranscriberRequest&, std::stop_token) { return engine; };
    dependencies.clock = std::make_shared<parlino::SystemRecorderClock>();
    dependencies.folders = {folder / "Documents", folder / "cache", folder / "cache" / "tmp"};
    dependencies.log = [](const std::string& line) {
        if (std::getenv("RECORDING_BENCH_LOG")) {
            std::printf("    %s\n", line.c_str());
        }
    };
    parlino::WhisperRecorder recorder(defaults, dependencies);
    recorder.setAudioPreprocessingEnabled(preprocessing);
    testsupport::spinUntil([&] { return recorder.aurisReady(); });

    Figures figures;
    testsupport::startRecordingOrExit(recorder);
    figures.ready = residentMiB();

    SpeechLikeAudio audio;
    const auto parts = static_cast<long>(std::lround(hours * 3600 / partSeconds));
    const auto start = Clock::now();
    for (long part = 1; part <= parts; ++part) {
        const auto samples = audio.next(partSeconds * rate);
        microphone->push(std::span(samples));
        microphone->waitUntilDelivered(std::chrono::minutes(5));
        QCoreApplication::processEvents();
        if (part % (1800 / partSeconds) == 0) {
            std::printf("    %5.0f min recorded: resident %6.0f MiB, peak %6.0f MiB (%.0f s)\n",
                static_cast<double>(part * partSeconds) / 60, residentMiB(), testsupport::peakResidentMiB(),
                std::chrono::duration<double>(Clock::now() - start).count());
            std::fflush(stdout);
        }
    }
    figures.recordingPeak = testsupport::peakResidentMiB();

    std::optional<parlino::RecordingResult> result;
    recorder.stopRecording([&](parlino::RecordingResult finished) { result = std::move(finished); });
    testsupport::spinUntil([&] { return result.has_value(); });
    figures.afterPeak = testsupport::peakResidentMiB();
    if (!result->audioURL) {
        std::fprintf(stderr, "the recording was not kept\n");
        std::exit(2);
    }
    // The file the engine alone reads next.
    std::ofstream(folder / "recorded") << result->audioURL->string();
    return figures;
}

// The child's figures come back through a file: its peak at the end is the whole run's.
void writeFigures(const fs::path& file, const Figures& figures)
{
    std::ofstream(file) << figures.ready << " " << figures.recordingPeak << " " << figures.afterPeak;
}

Figures readFigures(const fs::path& file)
{
    Figures figures;
    std::ifstream(file) >> figures.ready >> figures.recordingPeak >> figures.afterPeak;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    double hours = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--hours") {
            hours = std::max(0.01, std::atof(argv[i + 1]));
        }
    }
    char pattern[] = "/tmp/recording-memory-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path folder = pattern;
    std::printf("recording-memory-bench: %.2f h recordings at 16 kHz mono (load %s)\n", hours,
        testsupport::loadAverage().c_str());
    const double copy = hours * 3600 * rate * sizeof(float) / (1024.0 * 1024.0);
    std::printf("  one 16 kHz float copy of the audio: %.0f MiB\n", copy);
    int status = 0;
    for (const bool preprocessing : {true, false}) {
        std::printf("\n  preprocessing %s\n", preprocessing ? "on" : "off");
        const auto run = testsupport::runInChild([&] {
            writeFigures(folder / "figures", recordThrough(folder / (preprocessing ? "on" : "off"), hours, preprocessing));
            return 0;
        });
        if (run.exitStatus != 0) {
            std::printf("  FAILED\n");
            status = 1;
            continue;
        }
        const Figures figures = readFigures(folder / "figures");
        std::string recorded;
        std::ifstream(folder / (preprocessing ? "on" : "off") / "recorded") >> recorded;
        double engineBase = 0;
        double enginePeak = 0;
        const auto engineRun = testsupport::runInChild([&] {
            const double base = residentMiB();
            ReadingTranscriber().transcribe(recorded, {}, {}, {});
            std::ofstream(folder / "engine") << base << " " << testsupport::peakResidentMiB();
            return 0;
        });
        std::ifstream(folder / "engine") >> engineBase >> enginePeak;
        const double recordingGrowth = figures.recordingPeak - figures.ready;
        const double afterGrowth = figures.afterPeak - figures.ready;
        const double engineGrowth = enginePeak - engineBase;
        std::printf("  started at %6.0f MiB resident\n", figures.ready);
        std::printf("  while recording: peak %6.0f MiB (+%5.0f MiB)\n", figures.recordingPeak, recordingGrowth);
        std::printf("  afterwards:      peak %6.0f MiB (+%5.0f MiB over the start)\n", figures.afterPeak, afterGrowth);
        std::printf("  the engine's own reading of the file alone: +%5.0f MiB (%s)\n", engineGrowth,
            engineRun.exitStatus == 0 ? "ok" : "FAILED");
        // Goals: recording holds no audio beyond a few blocks; afterwards nothing beyond the engine's own.
        const bool recordingBounded = recordingGrowth <= 64;
        const bool afterBounded = afterGrowth <= engineGrowth + 64;
        std::printf("  goal: +64 MiB while recording %s, engine's own +64 MiB afterwards %s\n",
            recordingBounded ? "met" : "MISSED", afterBounded ? "met" : "MISSED");
        if (!recordingBounded || !afterBounded || engineRun.exitStatus != 0) {
            status = 1;
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
