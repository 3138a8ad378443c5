#include "app/recorder/StopSequence.hpp"

#include "app/recorder/AudioPreprocessor.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/recorder/RecordingFiles.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "app/support/RunThenPost.hpp"

#include "platform/audio/AudioRecorder.hpp"
#include "platform/system/FileMoves.hpp"
#include "platform/text/CharacterProperties.hpp"
#include "platform/text/TextTransforms.hpp"
#include "platform/text/UnicodeText.hpp"

#include <fstream>
#include <system_error>

namespace parlino {

namespace fs = std::filesystem;

bool StopSequence::isHallucination(const QString& text)
{
    std::string cleaned = trimmedText(platform::lowercased(text.toStdString()));
    std::erase(cleaned, '.');
    std::erase(cleaned, '!');
    if (cleaned.empty()) {
        return false;
    }
    bool foundPhrase = false;
    for (const std::string_view phrase : knownHallucinations) {
        for (std::size_t at = cleaned.find(phrase); at != std::string::npos; at = cleaned.find(phrase, at)) {
            cleaned.replace(at, phrase.size(), " ");
            foundPhrase = true;
        }
    }
    if (!foundPhrase) {
        return false;
    }
    // What is left between the phrases may only be spacing and punctuation.
    std::size_t offset = 0;
    while (offset < cleaned.size()) {
        const char32_t scalar = platform::nextScalar(cleaned, offset);
        if (!platform::isWhitespace(scalar) && !platform::isPunctuation(scalar)) {
            return false;
        }
    }
    return true;
}

StopSequence::StopSequence(Recorder& recorder, const RecorderService& settings, Environment environment)
    : recorder_(recorder)
    , settings_(settings)
    , environment_(std::move(environment))
{
}

void StopSequence::finishWork()
{
    std::error_code ignored;
    for (const auto& run : stops_) {
        for (const auto& scratch : {run->transcribed, run->preprocessed}) {
            if (!scratch.empty() && scratch != run->recorded) {
                fs::remove(scratch, ignored);
            }
        }
        run->flushTimer.reset();
    }
}

void StopSequence::completeWithoutRecording(StopCompletion completion)
{
    recorder_.print("❌ No audio file to transcribe");
    environment_.poster->post([completion = std::move(completion)] {
        if (completion) {
            completion(RecordingResult {std::nullopt, QString(), 0, std::nullopt});
        }
    });
}

void StopSequence::stop(const std::shared_ptr<RecordingSession>& session, StopCompletion completion)
{
    auto run = std::make_shared<StopRun>();
    run->stopTime = environment_.clock->now();
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
        environment_.captureQueue, environment_.poster,
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
            recorder_.print("📁 Audio file size after stop: " + std::to_string(finished.size) + " bytes");
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
            recorder_.print("⚠️ Audio file suspiciously small (" + std::to_string(finished.size) + " bytes), waiting for flush...");
            run->waited = flushWait;
            run->flushTimer = environment_.clock->schedule(flushWait, false, [this, weak = std::weak_ptr<StopRun>(run)] {
                environment_.poster->post([this, weak] {
                    if (const auto waiting = weak.lock()) {
                        waiting->flushTimer.reset();
                        continueAfterFlush(waiting);
                    }
                });
            });
        });
}

void StopSequence::finishIncomplete(const std::shared_ptr<StopRun>& run, bool fileHoldsAudio)
{
    RecordingResult result;
    result.writeFailure = run->session->writeFailure.value_or(QStringLiteral("the audio could not be written"));
    if (fileHoldsAudio) {
        // Only the file tells how much of the recording it holds.
        result.audioURL = run->recorded;
        result.transcriptPending = true;
        recorder_.print("⚠️ Audio incomplete, kept without transcription: " + run->recorded.filename().string());
    } else {
        std::error_code ignored;
        fs::remove(run->recorded, ignored);
        recorder_.print("❌ No audio file to transcribe");
    }
    complete(run, result);
}

void StopSequence::continueAfterFlush(const std::shared_ptr<StopRun>& run)
{
    // Finishing the file takes a moment that the recording does not last.
    run->duration = secondsBetween(run->session->startTime, run->stopTime)
        + std::chrono::duration<double>(run->waited).count();
    if (recorder_.engineLoading()) {
        // The model passed its check and is loading: the recording is transcribed once it has.
        if (!run->waitedForEngine) {
            run->waitedForEngine = true;
            recorder_.print("⏳ Waiting for the model to finish loading...");
            recorder_.setIsTranscribing(true);
            recorder_.setTranscriptionProgress(initialTranscriptionProgress);
        }
        recorder_.awaitEngine([this, run] { continueAfterFlush(run); });
        return;
    }
    if (!recorder_.engineReady()) {
        if (run->waitedForEngine) {
            recorder_.setIsTranscribing(false);
        }
        run->recordedAudio.reset();
        run->transcriptPending = true;
        recorder_.print("⏩ Model not ready, saving audio without transcription");
        recorder_.print("   💡 Use 'ReTranscribe' button later to add transcription");
        nameAndFinish(run);
        return;
    }
    recorder_.print("🎤 Transcribing with Auris...");
    recorder_.setIsTranscribing(true);
    recorder_.setTranscriptionProgress(initialTranscriptionProgress);
    run->transcribed = run->recorded;
    if (!recorder_.shouldPreprocessAudio()) {
        run->recordedAudio.reset();
        recorder_.print("⏭️ Preprocessing disabled");
        attempt(run, 1);
        return;
    }
    preprocess(run);
}

void StopSequence::preprocess(const std::shared_ptr<StopRun>& run)
{
    run->preprocessingStart = std::chrono::steady_clock::now();
    recorder_.print("🎧 Preprocessing audio...");
    recorder_.setIsPreprocessing(true);
    recorder_.setPreprocessingStatus(QStringLiteral("Preprocessing audio..."));
    const bool noise = settings_.noiseSuppression();
    const bool volume = settings_.volumeNormalization();
    const bool resample = settings_.resample16kHz();
    const fs::path input = run->recorded;
    const fs::path folder = environment_.temporaryFolder;
    const ConsoleLog log = recorder_.consoleLog();
    const auto audio = std::exchange(run->recordedAudio, nullptr);
    runThenPost(
        environment_.workers, environment_.poster,
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
            recorder_.print("⏱️ Preprocessing took: " + fixedText(elapsed, 2) + "s");
            if (!preprocessed) {
                recorder_.print("⚠️ Preprocessing failed, using original audio");
                recorder_.setPreprocessingStatus(QStringLiteral("Preprocessing failed"));
            } else {
                run->transcribed = run->preprocessed;
                recorder_.print("✅ Audio preprocessed: " + run->transcribed.filename().string());
                recorder_.setPreprocessingStatus(QString::fromStdString("Preprocessing complete (" + fixedText(elapsed, 1) + "s)"));
            }
            recorder_.setIsPreprocessing(false);
            attempt(run, 1);
        });
}

void StopSequence::attempt(const std::shared_ptr<StopRun>& run, int number)
{
    recorder_.print("🔄 Auris attempt " + std::to_string(number) + "/" + std::to_string(transcriptionAttempts) + "...");
    recorder_.transcribe(run->transcribed, run->audioSeconds,
        [this, run, number](const AttemptOutcome& outcome) { judgeAttempt(run, number, outcome); });
}

void StopSequence::judgeAttempt(const std::shared_ptr<StopRun>& run, int number, const AttemptOutcome& outcome)
{
    const std::string n = std::to_string(number);
    if (outcome.error) {
        run->transcriptPending = true;
    }
    const bool hallucination = isHallucination(outcome.text);
    if (!outcome.text.isEmpty() && !hallucination) {
        recorder_.print("✅ Auris success (attempt " + n + ")");
        run->transcript = outcome.text;
        run->transcriptPending = false;
        finishTranscribing(run);
        return;
    }
    if (hallucination) {
        recorder_.print("⚠️ Hallucination detected: '" + characterPrefix(outcome.text, 50).toStdString() + "...' — retrying...");
    } else {
        recorder_.print("⚠️ Auris empty (attempt " + n + ") — retrying...");
    }
    if (number < transcriptionAttempts) {
        attempt(run, number + 1);
        return;
    }
    recorder_.print("❌ All " + std::to_string(transcriptionAttempts) + " transcription attempts failed");
    run->transcript.clear();
    finishTranscribing(run);
}

void StopSequence::finishTranscribing(const std::shared_ptr<StopRun>& run)
{
    if (run->transcribed != run->recorded) {
        std::error_code ignored;
        fs::remove(run->transcribed, ignored);
        recorder_.print("🧹 Temp preprocessed file removed");
        run->transcribed = run->recorded;
        run->preprocessed.clear();
    }
    recorder_.setIsTranscribing(false);
    recorder_.setTranscriptionProgress(1.0);
    recorder_.setTranscriptionETA({});
    nameAndFinish(run);
}

std::optional<fs::path> StopSequence::renamed(const fs::path& file, const QString& name)
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
    recorder_.print("⚠️ Failed to rename: " + error.message());
    return std::nullopt;
}

void StopSequence::nameAndFinish(const std::shared_ptr<StopRun>& run)
{
    const QString title = SmartNamingEngine::generateTitle(run->transcript);
    recorder_.print("📝 Generated title: " + title.toStdString());
    fs::path url = run->recorded;
    if (!title.isEmpty()) {
        const QDateTime date = run->session->startTime.isValid() ? run->session->startTime : environment_.clock->now();
        if (const auto target = renamed(run->recorded, SmartNamingEngine::makeFileName(title, date))) {
            url = *target;
            recorder_.print("✅ Renamed: " + url.filename().string());
        }
    }
    RecordingResult result {url, run->transcript, run->duration, title};
    result.transcriptPending = run->transcriptPending;
    complete(run, result);
}

void StopSequence::complete(const std::shared_ptr<StopRun>& run, const RecordingResult& result)
{
    recorder_.print("✅ WhisperRecorder: Recording complete");
    const StopCompletion completion = std::move(run->completion);
    stops_.erase(run);
    if (completion) {
        completion(result);
    }
}

} // namespace parlino
