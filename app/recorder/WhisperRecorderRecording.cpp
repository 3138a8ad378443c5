#include "app/recorder/WhisperRecorder.hpp"

#include "app/recorder/RecorderText.hpp"
#include "app/recorder/RecordingFiles.hpp"
#include "app/support/RunThenPost.hpp"

#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileOutput.hpp"
#include "platform/audio/AudioRecorder.hpp"

#include <cmath>
#include <system_error>

namespace parlino {

namespace fs = std::filesystem;

namespace {

using SteadyClock = std::chrono::steady_clock;

// "recording_2025-01-31T14:30:00Z.m4a", numbered when a file of that name is there. The file is
// made here, so that one appearing between the look and the creation (another program on the
// same folder) is never written over.
struct RecordingFile {
    fs::path url;
    std::unique_ptr<platform::AudioFileOutput> output;
};

RecordingFile createRecordingFile(const fs::path& folder, const QDateTime& now, const platform::AudioRecorder::OutputFactory& makeOutput)
{
    const std::string name
        = "recording_" + now.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")).toStdString() + ".m4a";
    fs::path url = folder / name;
    for (int number = 2;; ++number) {
        try {
            return {url, makeOutput ? makeOutput(url) : platform::AudioFileOutput::create(url)};
        } catch (const std::system_error& error) {
            if (error.code() != std::errc::file_exists || number > maxNameNumber) {
                throw platform::AudioFileError("Cannot create audio file " + url.string() + ": " + error.code().message());
            }
        }
        url = folder / numberedName(name, number);
    }
}

// Without a sound server or an input there is nothing to record: the microphone is not available.
bool requestMicrophonePermission(platform::AudioCaptureSource& source, const ConsoleLog& log)
{
    if (!source.inputDevices().empty()) {
        log("✅ Microphone already permitted");
        return true;
    }
    log("🔐 Requesting microphone permission...");
    const bool granted = !source.inputDevices().empty();
    log(granted ? "✅ Microphone permission granted" : "❌ Microphone permission denied");
    return granted;
}

// The system's words at the end of an audio file error ("... : No space left on device").
std::string failureReason(const std::string& message)
{
    const auto colon = message.rfind(": ");
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

double audioSecondsOf(const fs::path& file)
{
    try {
        const platform::AudioFile audio(file);
        return static_cast<double>(audio.length()) / audio.processingFormat().sampleRate;
    } catch (const std::exception&) {
        return 0;
    }
}

} // namespace

void WhisperRecorder::startRecording(StartCompletion completion)
{
    print("📼 WhisperRecorder: Starting recording...");
    setTranscription({});
    setLiveTranscriptionAttempts(0);
    print("🧹 Cleared previous transcription");
    if (!engineLoader_.engine() && !engineLoader_.engineBeingCreated() && !isInitializingAuris()) {
        print("🔄 Auris not loaded, initializing in background...");
        engineLoader_.initialize({});
    }
    startAudioRecording(std::move(completion));
}

void WhisperRecorder::startAudioRecording(StartCompletion completion)
{
    ++startsInFlight_;
    auto session = std::make_shared<RecordingSession>();
    const auto source = dependencies_.captureSource;
    const ConsoleLog log = consoleLog();
    const fs::path folder = dependencies_.folders.documents;
    const QDateTime now = dependencies_.clock->now();
    const auto poster = poster_;
    platform::AudioRecorder::Delegate delegate {
        [this, poster, log](bool successfully) {
            if (!successfully) {
                log("❌ Audio recording failed");
                poster->post([this] { reportRecordingFailure(); });
            }
        },
        [this, poster, log, weak = std::weak_ptr<RecordingSession>(session)](const std::string& message) {
            log("❌ Audio encoding error: " + (message.empty() ? std::string("unknown") : message));
            poster->post([this, weak, message] {
                reportRecordingFailure();
                if (const auto failed = weak.lock()) {
                    writeFailed(failed, message);
                }
            });
        },
        [this, poster, weak = std::weak_ptr<RecordingSession>(session)](const std::string& reason) {
            poster->post([this, weak, reason] {
                if (const auto lost = weak.lock()) {
                    captureLost(lost, reason);
                }
            });
        },
    };
    struct Outcome {
        bool permitted = false;
        std::exception_ptr error;
    };
    const bool keepsAudio = shouldPreprocessAudio();
    const auto makeOutput = dependencies_.audioOutput;
    // A start over a running recording ends that one first: both would capture from one source.
    const auto previous = session_ ? session_->recorder : nullptr;
    runThenPost(
        captureQueue_, poster_,
        [session, source, log, folder, now, delegate, keepsAudio, makeOutput, previous]() -> Outcome {
            if (previous) {
                previous->stop();
            }
            if (!requestMicrophonePermission(*source, log)) {
                return {false, nullptr};
            }
            try {
                log("🎙️ Starting audio recording...");
                fs::create_directories(folder);
                auto file = createRecordingFile(folder, now, makeOutput);
                session->url = file.url;
                log("📁 Audio file: " + session->url.filename().string());
                auto recorder = std::make_shared<platform::AudioRecorder>(session->url, recordingSettings, source, delegate);
                if (keepsAudio) {
                    recorder->setKeepsRecordedAudio(static_cast<std::int64_t>(keptAudioSeconds * recordingSettings.sampleRate));
                }
                recorder->setOutputFactory(
                    [made = std::make_shared<std::unique_ptr<platform::AudioFileOutput>>(std::move(file.output))](
                        const fs::path&) { return std::move(*made); });
                recorder->record();
                session->recorder = std::move(recorder);
                log("✅ Audio recording started");
                return {true, nullptr};
            } catch (...) {
                return {true, std::current_exception()};
            }
        },
        [this, session, completion](Outcome outcome) { finishStart(session, outcome.permitted, outcome.error, completion); });
}

void WhisperRecorder::finishStart(const std::shared_ptr<RecordingSession>& session, bool permitted,
    std::exception_ptr error, const StartCompletion& completion)
{
    --startsInFlight_;
    if (!permitted) {
        setError(RecordingError(RecordingError::microphoneAccessDenied));
        completion(std::make_exception_ptr(RecordingError(RecordingError::microphoneAccessDenied)));
    } else if (error) {
        completion(error);
    } else {
        // A recording this one replaced keeps its file as it is named.
        session_ = session;
        setIsRecording(true);
        session->startTime = dependencies_.clock->now();
        startDurationTimer();
        print("✅ WhisperRecorder: Recording started");
        if (session->interrupted) {
            // It ended before its start was told: the stop asked for with the interruption finishes it.
            captureQueue_.start([recorder = session->recorder] { recorder->stop(); });
        }
        completion(nullptr);
    }
    if (startsInFlight_ == 0 && !stopsWhileStarting_.empty()) {
        // The first stop takes the recording; any others find nothing to stop.
        for (auto& stop : std::exchange(stopsWhileStarting_, {})) {
            stopRecording(std::move(stop));
        }
    }
}

void WhisperRecorder::reportRecordingFailure()
{
    setError(RecordingError(RecordingError::recordingFailed));
}

void WhisperRecorder::writeFailed(const std::shared_ptr<RecordingSession>& session, const std::string& message)
{
    if (session->writeFailure) {
        return;
    }
    const QString reason = QString::fromStdString(failureReason(message));
    session->writeFailure = reason;
    const bool kept = holdsAudio(session->url);
    const QString text = QStringLiteral("Recording stopped: the audio could not be written (") + reason
        + (kept ? QStringLiteral("). What was recorded until then is kept in ")
                + QString::fromStdString(session->url.filename().string()) + QLatin1Char('.')
                : QStringLiteral("). Nothing of it could be kept."));
    interrupt(session, text);
}

void WhisperRecorder::captureLost(const std::shared_ptr<RecordingSession>& session, const std::string& reason)
{
    interrupt(session, QStringLiteral("Recording stopped: the audio input ended (") + QString::fromStdString(reason)
            + QStringLiteral("). What was recorded until then is kept."));
}

void WhisperRecorder::interrupt(const std::shared_ptr<RecordingSession>& session, const QString& text)
{
    if (session->interrupted) {
        return;
    }
    session->interrupted = true;
    print("❌ " + text.toStdString());
    if (session == session_ && session->recorder) {
        // Nothing more reaches the file: capture ends now, the stop that follows finishes the road.
        // A session still starting is ended the same way once its start is through.
        captureQueue_.start([recorder = session->recorder] { recorder->stop(); });
    }
    emit recordingInterrupted(text);
}

void WhisperRecorder::startDurationTimer()
{
    durationTimer_ = dependencies_.clock->schedule(durationTimerInterval, true, [this] {
        if (session_ && session_->startTime.isValid()) {
            setRecordingDuration(secondsBetween(session_->startTime, dependencies_.clock->now()));
        }
    });
}

void WhisperRecorder::stopLiveTranscriptionTimer()
{
    print("🛑 Stopped live transcription timer");
}

void WhisperRecorder::stopRecording(StopCompletion completion)
{
    if (startsInFlight_ > 0) {
        stopsWhileStarting_.push_back(std::move(completion));
        return;
    }
    print("⏹️ WhisperRecorder: Stopping recording...");
    setIsRecording(false);
    durationTimer_.reset();
    stopLiveTranscriptionTimer();
    auto session = std::exchange(session_, nullptr);
    if (!session) {
        stopSequence_.completeWithoutRecording(std::move(completion));
        return;
    }
    stopSequence_.stop(session, std::move(completion));
}

void WhisperRecorder::transcribe(const fs::path& file, double audioSeconds, std::function<void(const AttemptOutcome&)> done)
{
    const TranscriptionInput input = transcriptionInput(file, audioSeconds);
    const ConsoleLog log = consoleLog();
    runThenPost(
        workers_, poster_,
        [input, log, poster = poster_, recorder = this, stop = shutdown_.get_token()] {
            return transcribeWithAuris(input, log, poster, recorder, stop);
        },
        [this, job = input.job, done = std::move(done)](AttemptOutcome outcome) {
            openJobs_.erase(job);
            applyAttempt(outcome);
            done(outcome);
        });
}

WhisperRecorder::TranscriptionInput WhisperRecorder::transcriptionInput(const fs::path& file, double audioSeconds)
{
    TranscriptionInput input;
    input.file = file;
    input.engine = engineLoader_.engine();
    input.language = transcriptionLanguage(defaults().stringValue(QLatin1String(preferredTranscriptionLanguageKey)));
    input.audioSeconds = audioSeconds;
    input.job = ++nextJob_;
    // A retry starts where the attempt before it left the bar.
    openJobs_[input.job] = transcriptionProgress();
    return input;
}

AttemptOutcome WhisperRecorder::transcribeWithAuris(const TranscriptionInput& input, const ConsoleLog& log,
    const std::shared_ptr<MainThreadPoster>& poster, WhisperRecorder* recorder, std::stop_token stop)
{
    const std::uint64_t size = fileSize(input.file);
    log("🗣️ Transcribing with Auris...");
    log("   File: " + input.file.filename().string());
    log("   Size: " + std::to_string(size) + " bytes (" + std::to_string(size / 1024) + " KB)");
    const double duration = input.audioSeconds >= 0 ? input.audioSeconds : audioSecondsOf(input.file);
    const auto windows = std::max<long long>(1, static_cast<long long>(std::ceil(duration / progressWindowSeconds)));
    log("🎵 Audio duration: " + fixedText(duration, 1) + "s → " + std::to_string(windows) + " windows");

    if (!input.engine) {
        log("❌ Auris not initialized");
        return {QString(), RecordingError::aurisNotInitialized, false};
    }
    log("🌍 Transcribing in language: " + input.language.value_or("auto"));

    const auto start = SteadyClock::now();
    const auto callback = [poster, recorder, job = input.job, duration, start](
                              const auris::TranscriptionProgress& progress) -> std::optional<bool> {
        const double elapsed = secondsSince(start);
        const double fraction = progressFraction(progress, duration, elapsed);
        poster->post([recorder, job, fraction, elapsed] { recorder->applyProgress(job, fraction, elapsed); });
        return true;
    };
    std::vector<auris::TranscriptionResult> results;
    try {
        results = input.engine->transcribe(input.file.string(), decodingOptions(input.language), callback, stop);
    } catch (const std::exception& error) {
        log(std::string("❌ Auris transcription failed: ") + error.what());
        log("   Error type: " + errorTypeName(error));
        log(std::string("   Error details: ") + error.what());
        return {QString(), RecordingError::transcriptionFailed, false};
    }

    log("📊 Auris result: " + std::to_string(results.size()) + " segments");
    if (results.empty()) {
        log("⚠️  Result is EMPTY!");
    }
    std::string joined;
    for (const auto& result : results) {
        const std::string text = trimmedText(result.text);
        if (!text.empty()) {
            joined += (joined.empty() ? "" : " ") + text;
        }
    }
    const QString text = QString::fromStdString(joined);
    const std::string count = std::to_string(characterCount(text));
    log("📊 Concatenated " + std::to_string(results.size()) + " segments into " + count + " chars");
    log("✅ Transcription complete: '" + characterPrefix(text, 100).toStdString() + "...' (length: " + count + ")");
    return {text, std::nullopt, true};
}

void WhisperRecorder::applyAttempt(const AttemptOutcome& outcome)
{
    if (outcome.error) {
        setError(RecordingError(*outcome.error));
    }
    if (outcome.transcribed) {
        setTranscription(outcome.text);
    }
}

void WhisperRecorder::applyProgress(std::uint64_t job, double fraction, double elapsedSeconds)
{
    // Reports that arrive after their transcription has finished would move the bar backwards, and
    // chunks running side by side report out of order.
    const auto open = openJobs_.find(job);
    if (open == openJobs_.end()) {
        return;
    }
    open->second = std::max(open->second, fraction);
    setTranscriptionProgress(open->second);
    setTranscriptionETA(timeLeftText(open->second, elapsedSeconds));
}

void WhisperRecorder::transcribeExistingFile(const fs::path& audioURL, TranscribeCompletion completion)
{
    if (engineLoading()) {
        awaitEngine([this, audioURL, completion = std::move(completion)]() mutable {
            transcribeExistingFile(audioURL, std::move(completion));
        });
        return;
    }
    print("🔄 Transcribing existing file: " + audioURL.filename().string());
    if (!aurisReady()) {
        print("❌ Auris not ready");
        post([completion = std::move(completion)] {
            completion(QString(), std::make_exception_ptr(RecordingError(RecordingError::aurisNotInitialized)));
        });
        return;
    }
    setIsTranscribing(true);
    setTranscriptionProgress(0);
    transcribe(audioURL, -1, [this, completion = std::move(completion)](const AttemptOutcome& outcome) {
        setIsTranscribing(false);
        setTranscriptionProgress(1.0);
        if (outcome.error) {
            completion(QString(), std::make_exception_ptr(RecordingError(*outcome.error)));
            return;
        }
        print("✅ Re-transcription complete: " + characterPrefix(outcome.text, 100).toStdString() + "...");
        completion(outcome.text, nullptr);
    });
}

} // namespace parlino
