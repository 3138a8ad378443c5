#pragma once

#include "app/recorder/AttemptOutcome.hpp"
#include "app/recorder/ConsoleLog.hpp"
#include "app/recorder/RecorderClock.hpp"
#include "app/recorder/RecorderService.hpp"
#include "app/recorder/RecordingSession.hpp"
#include "app/support/MainThreadPoster.hpp"

#include "platform/audio/PCMBuffer.hpp"

#include <QDateTime>
#include <QThreadPool>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace parlino {

// The road of a recording after its stop: the end of capture, the flush wait, the wait for an engine
// still loading, preprocessing, up to three transcription attempts, the name and the result.
// Main thread only, like the recorder it serves; the file work runs on the recorder's pools.
class StopSequence {
public:
    using StopCompletion = RecorderService::StopCompletion;
    using Completion = RecorderService::Completion;

    // What a stop needs of its recorder: the console, the engine and the state it publishes.
    class Recorder {
    public:
        virtual void print(const std::string& line) const = 0;
        // The console for worker threads; never empty.
        virtual ConsoleLog consoleLog() const = 0;
        // The model passed its check and its engine is still being made.
        virtual bool engineLoading() const = 0;
        // The model is ready and its engine made.
        virtual bool engineReady() const = 0;
        // Runs the completion once the engine creation running now (or the one due next) has ended.
        virtual void awaitEngine(Completion completion) = 0;
        virtual bool shouldPreprocessAudio() const = 0;
        // Transcribes the file on a worker; `done` runs on the main thread once the recorder has
        // published the outcome's text and error.
        virtual void transcribe(const std::filesystem::path& file, double audioSeconds,
            std::function<void(const AttemptOutcome&)> done) = 0;
        virtual void setIsTranscribing(bool value) = 0;
        virtual void setTranscriptionProgress(double value) = 0;
        virtual void setTranscriptionETA(const QString& value) = 0;
        virtual void setIsPreprocessing(bool value) = 0;
        virtual void setPreprocessingStatus(const QString& value) = 0;

    protected:
        ~Recorder() = default;
    };

    struct Environment {
        std::shared_ptr<RecorderClock> clock;
        std::filesystem::path temporaryFolder;
        // Where the capture is stopped, in order with its start.
        QThreadPool& captureQueue;
        QThreadPool& workers;
        std::shared_ptr<MainThreadPoster> poster;
    };

    // Whole transcripts made of these (lower case, "." and "!" removed) are what the model says
    // over silence.
    static constexpr std::array<std::string_view, 11> knownHallucinations {"thank you for watching",
        "thanks for watching", "ďakujem za pozornosť", "ďakujem za sledovanie", "subscribe to my channel",
        "like and subscribe", "don't forget to subscribe", "see you next time", "see you in the next video",
        "catch you later", "stay tuned"};
    static constexpr int transcriptionAttempts = 3;
    // A file this small right after a stop may still be flushing; it gets one short wait.
    static constexpr std::uint64_t flushThresholdBytes = 999;
    static constexpr std::chrono::milliseconds flushWait {500};
    static constexpr double initialTranscriptionProgress = 0.05;

    // True when the whole text, lower-cased, trimmed and without "." and "!", is made of known
    // hallucination phrases with at most punctuation and spaces between them.
    static bool isHallucination(const QString& text);

    // `settings` gives the preprocessing switches.
    StopSequence(Recorder& recorder, const RecorderService& settings, Environment environment);

    // Ends the capture of `session` and finishes its recording; the completion runs on the main thread.
    void stop(const std::shared_ptr<RecordingSession>& session, StopCompletion completion);
    // The stop when nothing was recorded: a result without audio, text or title, after the caller returns.
    void completeWithoutRecording(StopCompletion completion);
    // Removes the scratch files of the stops still under way and ends their waits. Called once the
    // pools are done and nothing more is posted; those stops never complete.
    void finishWork();

private:
    // One stop, from the end of capture to its result. Everything in it belongs to this stop alone,
    // so a recording started meanwhile cannot be renamed or transcribed by it.
    struct StopRun {
        std::shared_ptr<RecordingSession> session;
        StopCompletion completion;
        std::filesystem::path recorded;
        std::filesystem::path transcribed;
        // What the microphone gave, when it was short enough to keep.
        std::shared_ptr<platform::PCMBuffer> recordedAudio;
        // Written by the preprocessing worker, read once it has reported.
        std::filesystem::path preprocessed;
        // When the stop was asked for, and how long the flush wait added to it.
        QDateTime stopTime;
        std::chrono::milliseconds waited {0};
        double duration = 0;
        double audioSeconds = 0;
        QString transcript;
        std::unique_ptr<RecorderTimer> flushTimer;
        std::chrono::steady_clock::time_point preprocessingStart;
        // Waited for the engine of a model that was ready but still loading.
        bool waitedForEngine = false;
        // No engine was there, or an attempt failed with an error rather than hearing nothing.
        bool transcriptPending = false;
    };

    void continueAfterFlush(const std::shared_ptr<StopRun>& run);
    void preprocess(const std::shared_ptr<StopRun>& run);
    void attempt(const std::shared_ptr<StopRun>& run, int number);
    void judgeAttempt(const std::shared_ptr<StopRun>& run, int number, const AttemptOutcome& outcome);
    void finishTranscribing(const std::shared_ptr<StopRun>& run);
    void nameAndFinish(const std::shared_ptr<StopRun>& run);
    // The stop of a recording whose audio could not all be written: kept as it is, not transcribed.
    void finishIncomplete(const std::shared_ptr<StopRun>& run, bool fileHoldsAudio);
    std::optional<std::filesystem::path> renamed(const std::filesystem::path& file, const QString& name);
    void complete(const std::shared_ptr<StopRun>& run, const RecordingResult& result);

    Recorder& recorder_;
    const RecorderService& settings_;
    Environment environment_;
    std::set<std::shared_ptr<StopRun>> stops_;
};

} // namespace parlino
