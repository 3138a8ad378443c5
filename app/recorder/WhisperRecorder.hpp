#pragma once

#include "app/recorder/ConsoleLog.hpp"
#include "app/recorder/EngineLoader.hpp"
#include "app/recorder/ModelStore.hpp"
#include "app/recorder/RecorderClock.hpp"
#include "app/recorder/RecorderFolders.hpp"
#include "app/recorder/RecorderService.hpp"
#include "app/recorder/SpeechTranscriber.hpp"
#include "app/recorder/StopSequence.hpp"
#include "app/support/MainThreadPoster.hpp"

#include "Auris/Core/DecodingOptions.hpp"
#include "platform/audio/AudioCaptureSource.hpp"
#include "platform/audio/AudioFileOutput.hpp"
#include "platform/audio/AudioFileSettings.hpp"

#include <QThreadPool>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace parlino {

// The application's one recorder: records the microphone into an AAC file, cleans the audio,
// transcribes it with the speech engine (retrying empty and hallucinated results), names and
// renames the file, and manages the speech model (start-up check, download, switch, repair, cancel).
// The road after a stop is its StopSequence's, the model's life cycle its EngineLoader's.
//
// Lives on the Qt main thread; every published property changes there. Capture control, engine
// creation, preprocessing and transcription run on worker threads and report back through queued
// calls, so the main thread never waits for the sound server, the network or the engine. A result
// for a recorder that is gone is dropped.
//
// Seams for tests: the capture source, the engine factory, the clock with its timers, the folders
// and the console.
class WhisperRecorder final : public RecorderService, private StopSequence::Recorder, private EngineLoader::Recorder {
    Q_OBJECT

public:
    struct Dependencies {
        std::shared_ptr<platform::AudioCaptureSource> captureSource;
        TranscriberFactory makeTranscriber;
        std::shared_ptr<RecorderClock> clock;
        RecorderFolders folders;
        // The console lines; empty: none.
        ConsoleLog log;
        // The lines the design sends to the system log ("🐛 WHISPER DEBUG: ..."); empty: none.
        ConsoleLog systemLog;
        // Makes the file a recording's audio goes to; empty: a new file at its path.
        std::function<std::unique_ptr<platform::AudioFileOutput>(const std::filesystem::path&)> audioOutput;

        // The user's sound server, the Auris engine, the system clock, the XDG folders, standard
        // output and the system log. With `captureFileVariable` set, its audio file stands in for
        // the microphone.
        static Dependencies standard();
    };

    // Names an audio file that every recording hears instead of the microphone (for tests and
    // machines without one).
    static constexpr const char* captureFileVariable = "PARLINO_CAPTURE_FILE";

    // Recordings up to this long are also kept in memory for preprocessing, which then need not
    // decode the file; longer ones are read back from the file, so memory stays bounded.
    static constexpr double keptAudioSeconds = 300;
    static constexpr std::chrono::milliseconds durationTimerInterval {100};
    static constexpr double progressCap = 0.95;
    static constexpr double progressWindowSeconds = 30;
    // AAC in ".m4a", 16 kHz, one channel, 32 kbit/s.
    static const platform::AudioFileSettings recordingSettings;

    // The process-wide recorder, made on first use with the user's settings and the real devices.
    // Main thread only.
    static WhisperRecorder& shared();

    // Starts the model check once control is back in the event loop.
    WhisperRecorder(platform::UserDefaults& defaults, Dependencies dependencies, QObject* parent = nullptr);
    // Stops capture and engine downloads and waits for the workers.
    ~WhisperRecorder() override;
    // What the destructor does, for the shared recorder, which is never destroyed: called before the
    // process exits, so that no worker is still running while the program's static objects go.
    // Nothing is reported afterwards.
    void finishWork();

    void startRecording(StartCompletion completion) override;
    void stopRecording(StopCompletion completion) override;
    void transcribeExistingFile(const std::filesystem::path& audioURL, TranscribeCompletion completion) override;
    void switchModel(const QString& modelId, Completion completion = {}) override;
    void deleteAndRedownloadModel(Completion completion = {}) override;
    void cancelModelDownload() override;

    static bool isHallucination(const QString& text) { return StopSequence::isHallucination(text); }
    // The stored language as the engine takes it: the code itself when the engine knows it, else
    // its first two characters when those are a code; none (detect the language) otherwise.
    static std::optional<std::string> transcriptionLanguage(const QString& stored);
    // The options of every transcription; without a language the engine detects it.
    static auris::DecodingOptions decodingOptions(const std::optional<std::string>& language);

    // The share of the audio a decoding step reports done, at most the cap: the engine's count of
    // decoded seconds over its total, or over `audioSeconds` (0: unknown) when it gives none; with
    // neither, a guess from `elapsedSeconds`.
    static double progressFraction(const auris::TranscriptionProgress& step, double audioSeconds, double elapsedSeconds);
    // The time-remaining text for `progress` after `elapsedSeconds` of transcription.
    static QString timeLeftText(double progress, double elapsedSeconds);

    // Preprocessing is on and at least one of its steps is.
    bool shouldPreprocessAudio() const override;

    const ModelStore& modelStore() const { return modelStore_; }
    const RecorderFolders& folders() const { return dependencies_.folders; }
    // The file the running recording goes to.
    std::optional<std::filesystem::path> audioFileURL() const;

private:
    struct TranscriptionInput {
        std::filesystem::path file;
        std::shared_ptr<SpeechTranscriber> engine;
        std::optional<std::string> language;
        // Seconds of audio; negative: read them from the file.
        double audioSeconds = -1;
        std::uint64_t job = 0;
    };

    void post(std::function<void()> work) const;
    void print(const std::string& line) const override;
    ConsoleLog consoleLog() const override;
    void systemLog(const std::string& line) const override;

    // Model management.
    void loadOrDownloadDefaultModel();
    void awaitEngine(Completion completion) override;
    bool engineLoading() const override;
    bool engineReady() const override;
    void engineLoaded(const std::string& model) override;
    void engineFailed(const std::string& model, std::exception_ptr error, bool anotherServes) override;
    // Selects the model that serves again after a switch to another did not get through.
    void keepServingModel();

    // Capture.
    void startAudioRecording(StartCompletion completion);
    void finishStart(const std::shared_ptr<RecordingSession>& session, bool permitted, std::exception_ptr error,
        const StartCompletion& completion);
    void startDurationTimer();
    void stopLiveTranscriptionTimer();
    void reportRecordingFailure();
    void writeFailed(const std::shared_ptr<RecordingSession>& session, const std::string& message);
    void captureLost(const std::shared_ptr<RecordingSession>& session, const std::string& reason);
    void interrupt(const std::shared_ptr<RecordingSession>& session, const QString& text);

    // Transcription of one file, on a worker thread.
    void transcribe(const std::filesystem::path& file, double audioSeconds,
        std::function<void(const AttemptOutcome&)> done) override;
    TranscriptionInput transcriptionInput(const std::filesystem::path& file, double audioSeconds);
    static AttemptOutcome transcribeWithAuris(const TranscriptionInput& input, const ConsoleLog& log,
        const std::shared_ptr<MainThreadPoster>& poster, WhisperRecorder* recorder, std::stop_token stop);
    void applyAttempt(const AttemptOutcome& outcome);
    void applyProgress(std::uint64_t job, double fraction, double elapsedSeconds);

    // The stop's part of the published state.
    void setIsTranscribing(bool value) override { RecorderService::setIsTranscribing(value); }
    void setTranscriptionProgress(double value) override { RecorderService::setTranscriptionProgress(value); }
    void setTranscriptionETA(const QString& value) override { RecorderService::setTranscriptionETA(value); }
    void setIsPreprocessing(bool value) override { RecorderService::setIsPreprocessing(value); }
    void setPreprocessingStatus(const QString& value) override { RecorderService::setPreprocessingStatus(value); }
    // The model set-up's.
    void setModelDownloadCancelled(bool value) override { RecorderService::setModelDownloadCancelled(value); }
    void setModelFailure(std::optional<ModelFailure> value) override { RecorderService::setModelFailure(std::move(value)); }
    void setIsInitializingAuris(bool value) override { RecorderService::setIsInitializingAuris(value); }
    void setAurisInitProgress(double value) override { RecorderService::setAurisInitProgress(value); }
    void setAurisReady(bool value) override { RecorderService::setAurisReady(value); }

    Dependencies dependencies_;
    ModelStore modelStore_;
    std::shared_ptr<MainThreadPoster> poster_;
    std::stop_source shutdown_;

    EngineLoader engineLoader_;

    std::shared_ptr<RecordingSession> session_;
    int startsInFlight_ = 0;
    std::vector<StopCompletion> stopsWhileStarting_;
    std::unique_ptr<RecorderTimer> durationTimer_;
    StopSequence stopSequence_;
    std::uint64_t nextJob_ = 0;
    // The running transcriptions and the progress each has shown: it never goes back.
    std::map<std::uint64_t, double> openJobs_;

    // Declared last: destroyed first, after the destructor has waited for them.
    QThreadPool workers_;
    QThreadPool captureQueue_;
};

} // namespace parlino
