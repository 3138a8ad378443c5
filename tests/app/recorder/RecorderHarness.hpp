#pragma once

// A WhisperRecorder on fakes: a scripted microphone, a scripted or real engine, a manual clock and
// private folders, with its console lines and published states collected.

#include "app/recorder/RecorderFakes.hpp"
#include "app/recorder/WhisperRecorder.hpp"

#include "Auris/Engine/Auris.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"
#include "tools/loopback-hub/LoopbackHub.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"

#include "platform/audio/FakeAudioCapture.hpp"
#include "qtsupport/QtTestSupport.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Serves the smallest synthetic model as `folder` of the engine's repository, with the tokenizer
// the engine asks for it.
inline void publishSmallestModel(loopback::LoopbackHub& hub, const std::string& folder)
{
    ml::WhisperModelSet::write(hub.repositoryFolder(auris::Auris::defaultModelRepo) / folder, ml::WhisperShape::smallest(),
        ml::MultiArrayDataType::float16, ml::randomWhisperWeights(7));
    fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder("openai/whisper-base"));
}

// Every published change of a recorder, in order, as "name=value".
class PublishedStates {
public:
    explicit PublishedStates(parlino::RecorderService& recorder)
    {
        using R = parlino::RecorderService;
        const auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
        const auto number = [](double value) { return QString::number(value).toStdString(); };
        watch(recorder, &R::isRecordingChanged, [=](R& r) { return "isRecording=" + flag(r.isRecording()); });
        watch(recorder, &R::isTranscribingChanged, [=](R& r) { return "isTranscribing=" + flag(r.isTranscribing()); });
        watch(recorder, &R::transcriptionChanged, [](R& r) { return "transcription=" + r.transcription().toStdString(); });
        watch(recorder, &R::transcriptionProgressChanged,
            [=](R& r) { return "transcriptionProgress=" + number(r.transcriptionProgress()); });
        watch(recorder, &R::isPreprocessingChanged, [=](R& r) { return "isPreprocessing=" + flag(r.isPreprocessing()); });
        watch(recorder, &R::preprocessingStatusChanged,
            [](R& r) { return "preprocessingStatus=" + r.preprocessingStatus().toStdString(); });
        watch(recorder, &R::isInitializingAurisChanged,
            [=](R& r) { return "isInitializingAuris=" + flag(r.isInitializingAuris()); });
        watch(recorder, &R::aurisInitProgressChanged, [=](R& r) { return "aurisInitProgress=" + number(r.aurisInitProgress()); });
        watch(recorder, &R::aurisReadyChanged, [=](R& r) { return "aurisReady=" + flag(r.aurisReady()); });
        watch(recorder, &R::modelDownloadCancelledChanged,
            [=](R& r) { return "modelDownloadCancelled=" + flag(r.modelDownloadCancelled()); });
        watch(recorder, &R::errorChanged, [](R& r) { return "error=" + std::string(r.error() ? r.error()->what() : ""); });
    }

    const std::vector<std::string>& events() const { return events_; }
    void clear() { events_.clear(); }

    // The expected states occur in this order, other states in between allowed.
    bool inOrder(const std::vector<std::string>& expected) const
    {
        auto at = events_.begin();
        for (const auto& state : expected) {
            at = std::find_if(at, events_.end(), [&](const std::string& event) { return event.starts_with(state); });
            if (at == events_.end()) {
                return false;
            }
            ++at;
        }
        return true;
    }

    std::string text() const
    {
        std::string all;
        for (const auto& event : events_) {
            all += event + "\n";
        }
        return all;
    }

private:
    template <typename Signal, typename Describe>
    void watch(parlino::RecorderService& recorder, Signal signal, Describe describe)
    {
        QObject::connect(&recorder, signal, &recorder, [this, &recorder, describe] { events_.push_back(describe(recorder)); });
    }

    std::vector<std::string> events_;
};

// Console lines from any thread.
class CollectedLog {
public:
    parlino::ConsoleLog sink()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::size_t count(const std::string& prefix) const
    {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(
            std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) { return line.starts_with(prefix); }));
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

class RecorderHarness : public ::testing::Test {
protected:
    static constexpr std::chrono::seconds timeout {60};

    parlino::WhisperRecorder::Dependencies dependencies()
    {
        parlino::WhisperRecorder::Dependencies dependencies;
        dependencies.captureSource = microphone;
        dependencies.makeTranscriber = [this](const parlino::TranscriberRequest& request, std::stop_token stop) {
            std::unique_lock lock(factoryMutex);
            requests.push_back(request);
            factoryChanged.notify_all();
            factoryChanged.wait(lock, stop, [this] { return !holdEngine; });
            if (engineFails) {
                throw std::runtime_error("Model not found. Please check the model or repo name and try again.");
            }
            return std::shared_ptr<parlino::SpeechTranscriber>(transcriber);
        };
        dependencies.clock = clock;
        dependencies.folders = {temporary / "Documents" / "Parlino", temporary / "cache" / "parlino",
            temporary / "cache" / "parlino" / "tmp"};
        dependencies.log = log.sink();
        dependencies.systemLog = systemLog.sink();
        return dependencies;
    }

    // A recorder whose start-up model check has ended, one way or the other.
    std::unique_ptr<parlino::WhisperRecorder> makeRecorder(parlino::WhisperRecorder::Dependencies with)
    {
        auto recorder = std::make_unique<parlino::WhisperRecorder>(defaults, std::move(with));
        EXPECT_TRUE(processEventsUntil([&] { return log.count("✅ Auris initialized") + log.count("❌ Auris initialization failed") > 0
                                                  || log.count("✅ Model verified") > 0; },
            timeout));
        return recorder;
    }
    std::unique_ptr<parlino::WhisperRecorder> makeRecorder() { return makeRecorder(dependencies()); }

    std::exception_ptr start(parlino::WhisperRecorder& recorder)
    {
        bool done = false;
        std::exception_ptr failure;
        recorder.startRecording([&](std::exception_ptr error) {
            failure = error;
            done = true;
        });
        EXPECT_FALSE(done) << "a completion ran before the call returned";
        EXPECT_TRUE(processEventsUntil([&] { return done; }, timeout));
        return failure;
    }

    parlino::RecordingResult stop(parlino::WhisperRecorder& recorder)
    {
        std::optional<parlino::RecordingResult> result;
        recorder.stopRecording([&](parlino::RecordingResult finished) { result = std::move(finished); });
        EXPECT_FALSE(result) << "a completion ran before the call returned";
        EXPECT_TRUE(processEventsUntil([&] { return result.has_value(); }, timeout));
        return result.value_or(parlino::RecordingResult {});
    }

    // Starts, hears `seconds` of a tone while the clock moves on as far, and stops.
    parlino::RecordingResult record(parlino::WhisperRecorder& recorder, double seconds)
    {
        EXPECT_FALSE(start(recorder));
        microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, static_cast<std::size_t>(seconds * 16000)));
        EXPECT_TRUE(microphone->waitUntilDelivered());
        clock->advance(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        return stop(recorder);
    }

    std::size_t engineRequests()
    {
        std::lock_guard lock(factoryMutex);
        return requests.size();
    }

    // Engine creations wait (until released or stopped) from now on.
    void holdEngineCreation()
    {
        std::lock_guard lock(factoryMutex);
        holdEngine = true;
    }
    void releaseEngineCreation()
    {
        std::lock_guard lock(factoryMutex);
        holdEngine = false;
        factoryChanged.notify_all();
    }

    std::vector<std::string> documents() const
    {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator it(temporary / "Documents" / "Parlino", error), end; !error && it != end;
             it.increment(error)) {
            names.push_back(it->path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    bool scratchIsEmpty() const
    {
        std::error_code error;
        const auto scratch = temporary / "cache" / "parlino" / "tmp";
        return !std::filesystem::exists(scratch) || std::filesystem::is_empty(scratch, error);
    }

    TemporaryDirectory temporary;
    platform::UserDefaults defaults {temporary / "config" / "parlino.conf"};
    std::shared_ptr<platform::FakeAudioCapture> microphone = std::make_shared<platform::FakeAudioCapture>(
        std::vector<platform::AudioInputDevice> {{1, "mic", "Microphone", true, {48000, 2}}});
    std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
    std::shared_ptr<ManualRecorderClock> clock = std::make_shared<ManualRecorderClock>();
    CollectedLog log;
    CollectedLog systemLog;
    std::mutex factoryMutex;
    std::condition_variable_any factoryChanged;
    bool holdEngine = false;
    std::vector<parlino::TranscriberRequest> requests;
    std::atomic<bool> engineFails = false;
};

} // namespace testsupport
