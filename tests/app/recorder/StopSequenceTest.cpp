#include "app/recorder/RecorderFakes.hpp"
#include "app/recorder/StopSequence.hpp"
#include "app/recorder/WhisperRecorder.hpp"

#include "app/support/RunThenPost.hpp"
#include "platform/audio/AudioRecorder.hpp"
#include "platform/audio/FakeAudioCapture.hpp"
#include "qtsupport/QtTestSupport.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>

#include <deque>

using namespace parlino;
using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

// The recorder side of a stop: an engine that is as the test says, transcriptions answered from a
// script after the call has returned, and every published write noted in order.
class ScriptedRecorder final : public StopSequence::Recorder {
public:
    explicit ScriptedRecorder(QObject& context)
        : context_(context)
    {
    }

    void print(const std::string& line) const override { lines.push_back(line); }
    ConsoleLog consoleLog() const override
    {
        return [](const std::string&) {};
    }
    bool engineLoading() const override { return loading; }
    bool engineReady() const override { return ready; }
    void awaitEngine(StopSequence::Completion completion) override { waiting.push_back(std::move(completion)); }
    bool shouldPreprocessAudio() const override { return preprocesses; }
    void transcribe(const fs::path& file, double, std::function<void(const AttemptOutcome&)> done) override
    {
        transcribed.push_back({file, fs::exists(file)});
        AttemptOutcome outcome = outcomes.front();
        outcomes.pop_front();
        postTo(&context_, [done = std::move(done), outcome] { done(outcome); });
    }
    void setIsTranscribing(bool value) override { states.push_back(std::string("transcribing ") + (value ? "on" : "off")); }
    void setTranscriptionProgress(double value) override { states.push_back("progress " + std::to_string(value)); }
    void setTranscriptionETA(const QString& value) override { states.push_back("eta '" + value.toStdString() + "'"); }
    void setIsPreprocessing(bool value) override { states.push_back(std::string("preprocessing ") + (value ? "on" : "off")); }
    void setPreprocessingStatus(const QString& value) override { states.push_back("status " + value.toStdString()); }

    bool loading = false;
    bool ready = true;
    bool preprocesses = false;
    std::deque<AttemptOutcome> outcomes;
    std::vector<StopSequence::Completion> waiting;
    // Each transcribed file, and whether it was there when its transcription began.
    std::vector<std::pair<fs::path, bool>> transcribed;
    mutable std::vector<std::string> lines;
    std::vector<std::string> states;

private:
    QObject& context_;
};

class StopSequenceTest : public ::testing::Test {
protected:
    ~StopSequenceTest() override
    {
        captureQueue.waitForDone();
        workers.waitForDone();
        sequence.finishWork();
    }

    // Two seconds of a tone recorded into a file, ready for its stop.
    std::shared_ptr<RecordingSession> recordedSession()
    {
        fs::create_directories(documents());
        auto session = std::make_shared<RecordingSession>();
        session->url = documents() / "recording_2025-01-31T14:30:00Z.m4a";
        session->recorder
            = std::make_shared<platform::AudioRecorder>(session->url, WhisperRecorder::recordingSettings, microphone);
        session->recorder->record();
        session->startTime = clock->now();
        microphone->push(platform::FakeAudioCapture::tone({48000, 2}, 440, 2 * 48000));
        EXPECT_TRUE(microphone->waitUntilDelivered());
        clock->advance(std::chrono::seconds(2));
        return session;
    }

    RecordingResult stop(const std::shared_ptr<RecordingSession>& session)
    {
        std::optional<RecordingResult> result;
        sequence.stop(session, [&](RecordingResult finished) { result = std::move(finished); });
        EXPECT_FALSE(result) << "a completion ran before the call returned";
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return result.has_value() || !recorder.waiting.empty(); }));
        return result.value_or(RecordingResult {});
    }

    fs::path documents() const { return folder.path() / "Documents"; }

    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder.path() / "parlino.conf"};
    // The preprocessing switches.
    testsupport::IdleRecorderService settings {defaults};
    QObject context;
    ScriptedRecorder recorder {context};
    std::shared_ptr<testsupport::ManualRecorderClock> clock = std::make_shared<testsupport::ManualRecorderClock>();
    std::shared_ptr<platform::FakeAudioCapture> microphone = std::make_shared<platform::FakeAudioCapture>(
        std::vector<platform::AudioInputDevice> {{1, "mic", "Microphone", true, {48000, 2}}});
    QThreadPool captureQueue;
    QThreadPool workers;
    StopSequence sequence {recorder, settings,
        {clock, folder.path() / "tmp", captureQueue, workers, std::make_shared<MainThreadPoster>(&context)}};
};

TEST_F(StopSequenceTest, RetriesWhatWasNotHeardOnThePreprocessedAudioThenNamesTheRecording)
{
    recorder.preprocesses = true;
    recorder.outcomes = {{QStringLiteral("Thank you for watching."), std::nullopt, true}, {QString(), std::nullopt, true},
        {QStringLiteral("Buy milk and eggs on the way home"), std::nullopt, true}};
    const RecordingResult result = stop(recordedSession());

    EXPECT_EQ(result.transcription, QStringLiteral("Buy milk and eggs on the way home"));
    EXPECT_FALSE(result.transcriptPending);
    EXPECT_DOUBLE_EQ(result.duration, 2.0);
    ASSERT_TRUE(result.audioURL && result.generatedTitle);
    EXPECT_FALSE(result.generatedTitle->isEmpty());
    EXPECT_EQ(result.audioURL->parent_path(), documents());
    EXPECT_NE(result.audioURL->filename(), "recording_2025-01-31T14:30:00Z.m4a");
    EXPECT_TRUE(fs::exists(*result.audioURL));

    // Every attempt heard the cleaned scratch copy, which is gone afterwards.
    ASSERT_EQ(recorder.transcribed.size(), 3u);
    for (const auto& [file, existed] : recorder.transcribed) {
        EXPECT_EQ(file, recorder.transcribed.front().first);
        EXPECT_EQ(file.parent_path(), folder.path() / "tmp");
        EXPECT_TRUE(existed);
    }
    EXPECT_FALSE(fs::exists(recorder.transcribed.front().first));
    EXPECT_THAT(recorder.lines, Contains(HasSubstr("⚠️ Hallucination detected: 'Thank you for watching.")));
    EXPECT_THAT(recorder.lines, Contains("⚠️ Auris empty (attempt 2) — retrying..."));
    EXPECT_THAT(recorder.lines, Contains("✅ Auris success (attempt 3)"));
    EXPECT_EQ(recorder.lines.back(), "✅ WhisperRecorder: Recording complete");
    EXPECT_EQ(recorder.states.front(), "transcribing on");
    EXPECT_EQ(recorder.states[2], "preprocessing on");
    const std::vector<std::string> last(recorder.states.end() - 3, recorder.states.end());
    EXPECT_EQ(last, (std::vector<std::string> {"transcribing off", "progress 1.000000", "eta ''"}));
}

TEST_F(StopSequenceTest, WaitsForAnEngineStillLoadingAndKeepsTheAudioWhenNoneCame)
{
    recorder.loading = true;
    recorder.ready = false;
    const auto session = recordedSession();
    std::optional<RecordingResult> result;
    sequence.stop(session, [&](RecordingResult finished) { result = std::move(finished); });
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !recorder.waiting.empty(); }));
    EXPECT_EQ(recorder.states, (std::vector<std::string> {"transcribing on", "progress 0.050000"}));

    // The loading ends without an engine: the recording is kept, for a later transcription.
    recorder.loading = false;
    std::exchange(recorder.waiting, {}).front()();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->transcriptPending);
    EXPECT_TRUE(result->transcription.isEmpty());
    ASSERT_TRUE(result->audioURL);
    EXPECT_EQ(result->audioURL->filename(), "2025-01-31_1430_Voice_Memo.m4a");
    EXPECT_TRUE(fs::exists(*result->audioURL));
    EXPECT_TRUE(recorder.transcribed.empty());
    EXPECT_EQ(recorder.states.back(), "transcribing off");
    EXPECT_THAT(recorder.lines, Contains("⏩ Model not ready, saving audio without transcription"));

    // With nothing recorded the answer has no audio, and comes after the call has returned.
    std::optional<RecordingResult> nothing;
    sequence.completeWithoutRecording([&](RecordingResult finished) { nothing = std::move(finished); });
    EXPECT_FALSE(nothing);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return nothing.has_value(); }));
    EXPECT_FALSE(nothing->audioURL);
}

} // namespace
