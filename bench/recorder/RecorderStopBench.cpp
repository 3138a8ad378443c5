// Times what stopRecording adds on top of the engine's own transcription for a long recording:
// finishing the file, preprocessing (on and off), the transcription road's own work, naming and
// renaming. The engine is a stand-in that answers at once and measures its own time, which is
// taken off; the microphone is a fake fed in one go, encoded as it arrives like a live one.
// Exit status 1 when a median is over its goal.
#include "app/recorder/WhisperRecorder.hpp"

#include "platform/audio/FakeAudioCapture.hpp"
#include "support/RecorderBenchRuns.hpp"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Answers with a fixed sentence and adds up the time it spent.
class InstantTranscriber final : public parlino::SpeechTranscriber {
public:
    std::vector<auris::TranscriptionResult> transcribe(const std::string&, const auris::DecodingOptions&,
        const ProgressCallback& callback, std::stop_token) override
    {
        const auto start = Clock::now();
        if (callback) {
            callback(auris::TranscriptionProgress {});
        }
        auris::TranscriptionResult result;
        result.text = "We went through the quarterly budget and agreed on the next steps for the launch.";
        spentNanoseconds_ += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        return {result};
    }
    Clock::duration takeSpent()
    {
        return std::chrono::nanoseconds(spentNanoseconds_.exchange(0));
    }

private:
    std::atomic<long long> spentNanoseconds_ {0};
};

// Console lines with the moment they were written.
class TimedLog {
public:
    parlino::ConsoleLog sink()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(Clock::now(), line);
        };
    }
    // When the first line starting with `prefix` was written, from `from`.
    double since(Clock::time_point from, const std::string& prefix) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& [at, line] : lines_) {
            if (line.starts_with(prefix)) {
                return milliseconds(at - from);
            }
        }
        return NAN;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    void print(Clock::time_point from) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& [at, line] : lines_) {
            std::printf("%9.2f ms  %s\n", milliseconds(at - from), line.c_str());
        }
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, std::string>> lines_;
};

// Speech-like test audio: a wandering tone over low noise, with pauses.
std::vector<float> testAudio(double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * 16000);
    std::vector<float> samples(frames);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    double phase = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 16000;
        const bool speaking = std::fmod(t, 4.0) < 3.2;
        phase += 2 * M_PI * (180 + 60 * std::sin(2 * M_PI * 0.7 * t)) / 16000;
        samples[i] = (speaking ? 0.3f * static_cast<float>(std::sin(phase)) : 0.0f) + noise(random);
    }
    return samples;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 10;
    double seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--seconds") {
            seconds = std::max(1.0, std::atof(argv[i + 1]));
        }
    }
    QCoreApplication application(argc, argv);

    char pattern[] = "/tmp/recorder-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path folder = pattern;
    int status = 0;
    {
        platform::UserDefaults defaults(folder / "parlino.conf");
        auto microphone = std::make_shared<platform::FakeAudioCapture>(
            std::vector<platform::AudioInputDevice> {{1, "mic", "Microphone", true, {16000, 1}}});
        auto engine = std::make_shared<InstantTranscriber>();
        TimedLog log;
        parlino::WhisperRecorder::Dependencies dependencies;
        dependencies.captureSource = microphone;
        dependencies.makeTranscriber = [engine](const parlino::TranscriberRequest&, std::stop_token) { return engine; };
        dependencies.clock = std::make_shared<parlino::SystemRecorderClock>();
        dependencies.folders = {folder / "Documents", folder / "cache", folder / "cache" / "tmp"};
        dependencies.log = log.sink();
        parlino::WhisperRecorder recorder(defaults, dependencies);
        testsupport::spinUntil([&] { return recorder.aurisReady(); });

        const std::vector<float> audio = testAudio(seconds);
        std::printf("recorder-stop-bench: %.0f s recordings at 16 kHz, %d runs per mode, median (min - max) in ms\n",
            seconds, runs);
        std::printf("%-16s %10s %22s %12s %14s %12s %8s\n", "preprocessing", "added", "range", "finish file",
            "preprocessing", "naming", "goal");
        for (const bool preprocessing : {true, false}) {
            recorder.setAudioPreprocessingEnabled(preprocessing);
            std::map<std::string, std::vector<double>> stages;
            for (int run = 0; run < runs; ++run) {
                testsupport::startRecordingOrExit(recorder);
                // In parts the fake holds at once, as a live microphone hands them over.
                constexpr std::size_t part = 10 * 16000;
                for (std::size_t at = 0; at < audio.size(); at += part) {
                    microphone->push(std::span(audio).subspan(at, std::min(part, audio.size() - at)));
                    microphone->waitUntilDelivered(std::chrono::minutes(5));
                }
                log.clear();
                engine->takeSpent();

                std::optional<parlino::RecordingResult> result;
                const auto stopAt = Clock::now();
                recorder.stopRecording([&](parlino::RecordingResult finished) { result = std::move(finished); });
                testsupport::spinUntil([&] { return result.has_value(); });
                const double total = milliseconds(Clock::now() - stopAt);
                const double engineTime = milliseconds(engine->takeSpent());
                stages["added"].push_back(total - engineTime);
                const double finished = log.since(stopAt, "📁 Audio file size after stop");
                stages["finish"].push_back(finished);
                stages["preprocessing"].push_back(
                    preprocessing ? log.since(stopAt, "✅ Audio preprocessed") - log.since(stopAt, "🎧 Preprocessing audio") : 0);
                // From the accepted transcript to the result: scratch removal, title, rename.
                stages["naming"].push_back(log.since(stopAt, "✅ WhisperRecorder: Recording complete")
                    - log.since(stopAt, "✅ Auris success"));
                if (std::getenv("RECORDER_BENCH_LOG")) {
                    log.print(stopAt);
                }
                if (result->audioURL) {
                    fs::remove(*result->audioURL);
                }
            }
            const auto& added = stages["added"];
            const double goal = preprocessing ? 150 : 30;
            const double middle = median(added);
            char range[64];
            std::snprintf(range, sizeof range, "%.1f - %.1f", *std::min_element(added.begin(), added.end()),
                *std::max_element(added.begin(), added.end()));
            std::printf("%-16s %10.1f %22s %12.1f %14.1f %12.1f %8.0f%s\n", preprocessing ? "on" : "off", middle, range,
                median(stages["finish"]), median(stages["preprocessing"]), median(stages["naming"]), goal,
                middle <= goal ? "" : "  OVER");
            if (middle > goal) {
                status = 1;
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
