#include "app/recorder/WhisperRecorder.hpp"

#include "app/support/RunThenPost.hpp"

#include "app/recorder/AudioPreprocessor.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/recorder/SmartNamingEngine.hpp"

#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileOutput.hpp"
#include "platform/audio/AudioRecorder.hpp"
#include "platform/system/FileMoves.hpp"
#include "platform/text/Graphemes.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace parlino {

namespace fs = std::filesystem;

namespace {

using SteadyClock = std::chrono::steady_clock;

// Names that are taken get a number: "name_2.m4a", "name_3.m4a", ...
constexpr int maxNameNumber = 99;

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return static_cast<double>(from.msecsTo(to)) / 1000.0;
}

double secondsSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

std::uint64_t fileSize(const fs::path& file)
{
    std::error_code error;
    const auto size = fs::file_size(file, error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

// "name.m4a" as "name_<number>.m4a", the stem shortened by whole characters when the name would
// not fit a file system's limit.
std::string numberedName(const std::string& name, int number)
{
    const fs::path path(name);
    const std::string suffix = "_" + std::to_string(number) + path.extension().string();
    const std::string whole = path.stem().string();
    std::string stem;
    for (const std::string_view character : platform::graphemeClusters(whole)) {
        if (stem.size() + character.size() + suffix.size() > SmartNamingEngine::maxFileNameBytes) {
            break;
        }
        stem += character;
    }
    return stem + suffix;
}

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

bool holdsAudio(const fs::path& file)
{
    std::error_code error;
    return fs::is_regular_file(file, error) && fileSize(file) > 0;
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
    if (!auris_ && !engineBeingCreated() && !isInitializingAuris()) {
        print("🔄 Auris not loaded, initializing in background...");
        initializeAuris({});
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
        completeWithoutRecording(std::move(completion));
        return;
    }
    stopCapturedSession(session, std::move(completion));
}

void WhisperRecorder::completeWithoutRecording(StopCompletion completion)
{
    print("❌ No audio file to transcribe");
    post([completion = std::move(completion)] {
        if (completion) {
            completion(RecordingResult {std::nullopt, QString(), 0, std::nullopt});
        }
    });
}

void WhisperRecorder::stopCapturedSession(const std::shared_ptr<RecordingSession>& session, StopCompletion completion)
{
    auto run = std::make_shared<StopRun>();
    run->stopTime = dependencies_.clock->now();
    run->session = session;
    run->completion = std::move(completion);
    run->recorded = session->url;
    stops_.insert(run);
    const auto recorder = session->recorder;
    const fs::path url = session->url;
    struct Finished {
        std::uint64_t size = 0;
        double audioSeconds = 0;
        std::shared_ptr<platform::PCMBuffer> audio;
        bool incomplete = false;
        bool holdsAudio = false;
    };
    runThenPost(
        captureQueue_, poster_,
        [recorder, url]() -> Finished {
            recorder->stop();
            { std::ifstream touch(url, std::ios::binary); }
            std::shared_ptr<platform::PCMBuffer> audio;
            if (auto kept = recorder->takeRecordedAudio()) {
                audio = std::make_shared<platform::PCMBuffer>(std::move(*kept));
            }
            return {fileSize(url), static_cast<double>(recorder->framesWritten()) / recorder->settings().sampleRate,
                std::move(audio), recorder->encodeFailed(), holdsAudio(url)};
        },
        [this, run](Finished finished) {
            print("📁 Audio file size after stop: " + std::to_string(finished.size) + " bytes");
            if (finished.incomplete || run->session->writeFailure) {
                finishIncomplete(run, finished.holdsAudio);
                return;
            }
            run->audioSeconds = finished.audioSeconds;
            run->recordedAudio = std::move(finished.audio);
            if (finished.size > flushThresholdBytes) {
                continueAfterFlush(run);
                return;
            }
            print("⚠️ Audio file suspiciously small (" + std::to_string(finished.size) + " bytes), waiting for flush...");
            run->waited = flushWait;
            run->flushTimer = dependencies_.clock->schedule(flushWait, false, [this, weak = std::weak_ptr<StopRun>(run)] {
                post([this, weak] {
                    if (const auto waiting = weak.lock()) {
                        waiting->flushTimer.reset();
                        continueAfterFlush(waiting);
                    }
                });
            });
        });
}

void WhisperRecorder::finishIncomplete(const std::shared_ptr<StopRun>& run, bool fileHoldsAudio)
{
    RecordingResult result;
    result.writeFailure = run->session->writeFailure.value_or(QStringLiteral("the audio could not be written"));
    if (fileHoldsAudio) {
        // Only the file tells how much of the recording it holds.
        result.audioURL = run->recorded;
        result.transcriptPending = true;
        print("⚠️ Audio incomplete, kept without transcription: " + run->recorded.filename().string());
    } else {
        std::error_code ignored;
        fs::remove(run->recorded, ignored);
        print("❌ No audio file to transcribe");
    }
    print("✅ WhisperRecorder: Recording complete");
    const StopCompletion completion = std::move(run->completion);
    stops_.erase(run);
    if (completion) {
        completion(result);
    }
}

void WhisperRecorder::continueAfterFlush(const std::shared_ptr<StopRun>& run)
{
    // Finishing the file takes a moment that the recording does not last.
    run->duration = secondsBetween(run->session->startTime, run->stopTime)
        + std::chrono::duration<double>(run->waited).count();
    if (aurisReady() && !auris_ && engineBeingCreated()) {
        // The model passed its check and is loading: the recording is transcribed once it has.
        if (!run->waitedForEngine) {
            run->waitedForEngine = true;
            print("⏳ Waiting for the model to finish loading...");
            setIsTranscribing(true);
            setTranscriptionProgress(initialTranscriptionProgress);
        }
        awaitEngine([this, run] { continueAfterFlush(run); });
        return;
    }
    if (!aurisReady() || !auris_) {
        if (run->waitedForEngine) {
            setIsTranscribing(false);
        }
        run->recordedAudio.reset();
        run->transcriptPending = true;
        print("⏩ Model not ready, saving audio without transcription");
        print("   💡 Use 'ReTranscribe' button later to add transcription");
        nameAndFinish(run);
        return;
    }
    print("🎤 Transcribing with Auris...");
    setIsTranscribing(true);
    setTranscriptionProgress(initialTranscriptionProgress);
    run->transcribed = run->recorded;
    if (!shouldPreprocessAudio()) {
        run->recordedAudio.reset();
        print("⏭️ Preprocessing disabled");
        attempt(run, 1);
        return;
    }
    preprocess(run);
}

void WhisperRecorder::preprocess(const std::shared_ptr<StopRun>& run)
{
    run->preprocessingStart = SteadyClock::now();
    print("🎧 Preprocessing audio...");
    setIsPreprocessing(true);
    setPreprocessingStatus(QStringLiteral("Preprocessing audio..."));
    const bool noise = noiseSuppression();
    const bool volume = volumeNormalization();
    const bool resample = resample16kHz();
    const fs::path input = run->recorded;
    const fs::path folder = dependencies_.folders.temporary;
    const ConsoleLog log = consoleLog();
    const auto audio = std::exchange(run->recordedAudio, nullptr);
    runThenPost(
        workers_, poster_,
        [run, input, audio, folder, noise, volume, resample, log]() -> bool {
            std::error_code ignored;
            fs::create_directories(folder, ignored);
            // A long recording was not kept in memory: the file is read back.
            auto output = audio ? AudioPreprocessor::preprocessAudio(std::move(*audio), noise, volume, resample, folder, log)
                                : AudioPreprocessor::preprocessAudio(input, noise, volume, resample, folder, log);
            if (output) {
                run->preprocessed = std::move(*output);
                return true;
            }
            return false;
        },
        [this, run](bool preprocessed) {
            const double elapsed = secondsSince(run->preprocessingStart);
            print("⏱️ Preprocessing took: " + fixed(elapsed, 2) + "s");
            if (!preprocessed) {
                print("⚠️ Preprocessing failed, using original audio");
                setPreprocessingStatus(QStringLiteral("Preprocessing failed"));
            } else {
                run->transcribed = run->preprocessed;
                print("✅ Audio preprocessed: " + run->transcribed.filename().string());
                setPreprocessingStatus(QString::fromStdString("Preprocessing complete (" + fixed(elapsed, 1) + "s)"));
            }
            setIsPreprocessing(false);
            attempt(run, 1);
        });
}

void WhisperRecorder::attempt(const std::shared_ptr<StopRun>& run, int number)
{
    print("🔄 Auris attempt " + std::to_string(number) + "/" + std::to_string(transcriptionAttempts) + "...");
    const TranscriptionInput input = transcriptionInput(run->transcribed, run->audioSeconds);
    const ConsoleLog log = consoleLog();
    runThenPost(
        workers_, poster_,
        [input, log, poster = poster_, recorder = this, stop = shutdown_.get_token()] {
            return transcribeWithAuris(input, log, poster, recorder, stop);
        },
        [this, run, number, job = input.job](AttemptOutcome outcome) {
            openJobs_.erase(job);
            applyAttempt(outcome);
            judgeAttempt(run, number, outcome);
        });
}

void WhisperRecorder::judgeAttempt(const std::shared_ptr<StopRun>& run, int number, const AttemptOutcome& outcome)
{
    const std::string n = std::to_string(number);
    if (outcome.error) {
        run->transcriptPending = true;
    }
    const bool hallucination = isHallucination(outcome.text);
    if (!outcome.text.isEmpty() && !hallucination) {
        print("✅ Auris success (attempt " + n + ")");
        run->transcript = outcome.text;
        run->transcriptPending = false;
        finishTranscribing(run);
        return;
    }
    if (hallucination) {
        print("⚠️ Hallucination detected: '" + characterPrefix(outcome.text, 50).toStdString() + "...' — retrying...");
    } else {
        print("⚠️ Auris empty (attempt " + n + ") — retrying...");
    }
    if (number < transcriptionAttempts) {
        attempt(run, number + 1);
        return;
    }
    print("❌ All " + std::to_string(transcriptionAttempts) + " transcription attempts failed");
    run->transcript.clear();
    finishTranscribing(run);
}

void WhisperRecorder::finishTranscribing(const std::shared_ptr<StopRun>& run)
{
    if (run->transcribed != run->recorded) {
        std::error_code ignored;
        fs::remove(run->transcribed, ignored);
        print("🧹 Temp preprocessed file removed");
        run->transcribed = run->recorded;
        run->preprocessed.clear();
    }
    setIsTranscribing(false);
    setTranscriptionProgress(1.0);
    setTranscriptionETA({});
    nameAndFinish(run);
}

std::optional<fs::path> WhisperRecorder::renamed(const fs::path& file, const QString& name)
{
    const std::string wanted = name.toStdString();
    std::error_code error;
    for (int number = 1; number <= maxNameNumber; ++number) {
        const fs::path target = file.parent_path() / (number == 1 ? wanted : numberedName(wanted, number));
        error = platform::moveItemWithoutReplacing(file, target);
        if (!error) {
            return target;
        }
        if (error != std::errc::file_exists) {
            break;
        }
    }
    print("⚠️ Failed to rename: " + error.message());
    return std::nullopt;
}

void WhisperRecorder::nameAndFinish(const std::shared_ptr<StopRun>& run)
{
    const QString title = SmartNamingEngine::generateTitle(run->transcript);
    print("📝 Generated title: " + title.toStdString());
    fs::path url = run->recorded;
    if (!title.isEmpty()) {
        const QDateTime date = run->session->startTime.isValid() ? run->session->startTime : dependencies_.clock->now();
        if (const auto target = renamed(run->recorded, SmartNamingEngine::makeFileName(title, date))) {
            url = *target;
            print("✅ Renamed: " + url.filename().string());
        }
    }
    RecordingResult result {url, run->transcript, run->duration, title};
    result.transcriptPending = run->transcriptPending;
    print("✅ WhisperRecorder: Recording complete");
    const StopCompletion completion = std::move(run->completion);
    stops_.erase(run);
    if (completion) {
        completion(result);
    }
}

WhisperRecorder::TranscriptionInput WhisperRecorder::transcriptionInput(const fs::path& file, double audioSeconds)
{
    TranscriptionInput input;
    input.file = file;
    input.engine = auris_;
    input.language = transcriptionLanguage(defaults().stringValue(QLatin1String(preferredTranscriptionLanguageKey)));
    input.audioSeconds = audioSeconds;
    input.job = ++nextJob_;
    // A retry starts where the attempt before it left the bar.
    openJobs_[input.job] = transcriptionProgress();
    return input;
}

WhisperRecorder::AttemptOutcome WhisperRecorder::transcribeWithAuris(const TranscriptionInput& input, const ConsoleLog& log,
    const std::shared_ptr<MainThreadPoster>& poster, WhisperRecorder* recorder, std::stop_token stop)
{
    const std::uint64_t size = fileSize(input.file);
    log("🗣️ Transcribing with Auris...");
    log("   File: " + input.file.filename().string());
    log("   Size: " + std::to_string(size) + " bytes (" + std::to_string(size / 1024) + " KB)");
    const double duration = input.audioSeconds >= 0 ? input.audioSeconds : audioSecondsOf(input.file);
    const auto windows = std::max<long long>(1, static_cast<long long>(std::ceil(duration / progressWindowSeconds)));
    log("🎵 Audio duration: " + fixed(duration, 1) + "s → " + std::to_string(windows) + " windows");

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
    if (aurisReady() && !auris_ && engineBeingCreated()) {
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
    const TranscriptionInput input = transcriptionInput(audioURL, -1);
    const ConsoleLog log = consoleLog();
    runThenPost(
        workers_, poster_,
        [input, log, poster = poster_, recorder = this, stop = shutdown_.get_token()] {
            return transcribeWithAuris(input, log, poster, recorder, stop);
        },
        [this, job = input.job, completion = std::move(completion)](AttemptOutcome outcome) {
            openJobs_.erase(job);
            applyAttempt(outcome);
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
