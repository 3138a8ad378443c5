#include "RecorderHarness.hpp"

#include "app/recorder/ModelFailure.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Hub/Repo.hpp"
#include "platform/net/NetError.hpp"
#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileOutput.hpp"
#include "support/FullDiskOutput.hpp"

#include <gmock/gmock.h>

#include <cerrno>
#include <cstring>

using namespace parlino;
using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::processEventsUntil;
using Reply = testsupport::ScriptedTranscriber::Reply;

namespace {

std::string bytesOf(const std::filesystem::path& path)
{
    return testsupport::readFile(path);
}

double audioSeconds(const std::filesystem::path& path)
{
    const platform::AudioFile file(path);
    return static_cast<double>(file.length()) / file.processingFormat().sampleRate;
}

} // namespace

class WhisperRecorderTest : public testsupport::RecorderHarness {};

TEST_F(WhisperRecorderTest, RecordsPreprocessesTranscribesAndNamesTheFileWithItsStatesInOrder)
{
    auto recorder = makeRecorder();
    ASSERT_TRUE(recorder->aurisReady());
    EXPECT_EQ(defaults.stringValue("WHISPER_INIT_MODEL"), QStringLiteral("small"));
    EXPECT_EQ(defaults.stringValue("WHISPER_INIT_TIME"),
        clock->now().toUTC().toString("yyyy-MM-dd HH:mm:ss") + QStringLiteral(" +0000"));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].model, "small");
    EXPECT_EQ(requests[0].downloadBase, temporary / "cache" / "parlino");

    testsupport::PublishedStates states(*recorder);
    ASSERT_FALSE(start(*recorder));
    EXPECT_TRUE(recorder->isRecording());
    ASSERT_TRUE(recorder->audioFileURL());
    EXPECT_EQ(recorder->audioFileURL()->filename().string(),
        "recording_" + clock->now().toUTC().toString("yyyy-MM-ddTHH:mm:ssZ").toStdString() + ".m4a");
    // The duration counts up every tenth of a second while recording.
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 3 * 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    clock->advance(1s);
    EXPECT_DOUBLE_EQ(recorder->recordingDuration(), 1.0);
    clock->advance(2s);
    const RecordingResult result = stop(*recorder);

    ASSERT_TRUE(result.audioURL);
    EXPECT_EQ(*result.audioURL, temporary / "Documents" / "Parlino" / "2025-01-31_1430_Hello_Quick_Test_Of_Recorder.m4a");
    EXPECT_EQ(result.transcription, QStringLiteral("Hello there, this is a quick test of the recorder"));
    EXPECT_EQ(result.generatedTitle, QStringLiteral("Hello Quick Test Of Recorder"));
    EXPECT_DOUBLE_EQ(result.duration, 3.0);
    EXPECT_NEAR(audioSeconds(*result.audioURL), 3.0, 0.15);
    EXPECT_EQ(documents(), std::vector<std::string> {"2025-01-31_1430_Hello_Quick_Test_Of_Recorder.m4a"});
    EXPECT_TRUE(scratchIsEmpty()) << "the preprocessed file was left behind";

    // The engine heard the cleaned copy, with the language left to detection.
    const auto calls = transcriber->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].audioExisted);
    EXPECT_EQ(std::filesystem::path(calls[0].audioPath).parent_path(), temporary / "cache" / "parlino" / "tmp");
    EXPECT_FALSE(calls[0].options.language);
    EXPECT_TRUE(calls[0].options.detectLanguage);
    EXPECT_EQ(calls[0].options.chunkingStrategy, auris::ChunkingStrategy::vad);
    EXPECT_TRUE(calls[0].options.skipSpecialTokens);

    EXPECT_TRUE(states.inOrder({"isRecording=true", "isRecording=false", "isTranscribing=true",
        "transcriptionProgress=0.05", "isPreprocessing=true", "preprocessingStatus=Preprocessing audio...",
        "preprocessingStatus=Preprocessing complete (", "isPreprocessing=false", "transcription=Hello there",
        "isTranscribing=false", "transcriptionProgress=1"}))
        << states.text();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->audioFileURL());
    const auto lines = log.lines();
    EXPECT_THAT(lines, Contains("✅ Renamed: 2025-01-31_1430_Hello_Quick_Test_Of_Recorder.m4a"));
    EXPECT_THAT(lines, Contains("🧹 Temp preprocessed file removed"));
    EXPECT_THAT(lines, Contains("🌍 Transcribing in language: auto"));

    // Without preprocessing the recorded file itself is transcribed.
    recorder->setAudioPreprocessingEnabled(false);
    defaults.setString("preferredTranscriptionLanguage", "yue");
    record(*recorder, 1.5);
    const auto second = transcriber->calls().back();
    EXPECT_EQ(std::filesystem::path(second.audioPath).parent_path(), temporary / "Documents" / "Parlino");
    EXPECT_EQ(second.options.language, "yue");
    EXPECT_FALSE(second.options.detectLanguage);
}

TEST_F(WhisperRecorderTest, RetriesHallucinatedAndEmptyAttemptsAndNamesWhatIsLeft)
{
    auto recorder = makeRecorder();
    recorder->setAudioPreprocessingEnabled(false);

    transcriber->script({Reply {{"Thank you for watching."}}, Reply {{" We will stay tuned ", "to the market. "}}});
    RecordingResult result = record(*recorder, 1);
    EXPECT_EQ(result.transcription, QStringLiteral("We will stay tuned to the market."));
    EXPECT_EQ(log.count("⚠️ Hallucination detected: 'Thank you for watching....' — retrying..."), 1u);
    EXPECT_EQ(log.count("✅ Auris success (attempt 2)"), 1u);

    log.clear();
    transcriber->script({Reply {}, Reply {{"", "  "}}, Reply {}});
    result = record(*recorder, 1);
    EXPECT_EQ(result.transcription, QString());
    EXPECT_EQ(result.generatedTitle, QStringLiteral("Voice Memo"));
    ASSERT_TRUE(result.audioURL);
    EXPECT_EQ(result.audioURL->filename().string(), "2025-01-31_1430_Voice_Memo.m4a");
    EXPECT_EQ(log.count("⚠️ Auris empty (attempt "), 3u);
    EXPECT_EQ(log.count("❌ All 3 transcription attempts failed"), 1u);
    EXPECT_EQ(transcriber->calls().size(), 5u);
    // A model that heard no speech did its work: the after-recording settings decide.
    EXPECT_FALSE(result.mustBeKept());

    // A failing engine counts as an empty attempt and publishes its error; the recording waits for
    // a re-transcription whatever the settings say.
    transcriber->script({Reply {{}, true}});
    result = record(*recorder, 1);
    EXPECT_EQ(result.transcription, QString());
    EXPECT_TRUE(result.mustBeKept());
    ASSERT_TRUE(recorder->error());
    EXPECT_EQ(recorder->error()->errorCase(), RecordingError::transcriptionFailed);
    EXPECT_THAT(log.lines(), Contains("   Error type: runtime_error"));
}

TEST_F(WhisperRecorderTest, SameMinuteRecordingsBothSurviveAndASecondStopDoesNothing)
{
    auto recorder = makeRecorder();
    recorder->setAudioPreprocessingEnabled(false);

    const RecordingResult first = record(*recorder, 1);
    ASSERT_TRUE(first.audioURL);
    const std::string firstBytes = bytesOf(*first.audioURL);
    const RecordingResult second = record(*recorder, 2);
    ASSERT_TRUE(second.audioURL);
    EXPECT_EQ(second.audioURL->filename().string(), "2025-01-31_1430_Hello_Quick_Test_Of_Recorder_2.m4a");
    EXPECT_EQ(bytesOf(*first.audioURL), firstBytes);
    EXPECT_NEAR(audioSeconds(*first.audioURL), 1.0, 0.15);
    EXPECT_NEAR(audioSeconds(*second.audioURL), 2.0, 0.15);
    const std::string secondBytes = bytesOf(*second.audioURL);

    log.clear();
    const RecordingResult again = stop(*recorder);
    EXPECT_FALSE(again.audioURL);
    EXPECT_EQ(again.transcription, QString());
    EXPECT_FALSE(again.generatedTitle);
    EXPECT_THAT(log.lines(), Contains("❌ No audio file to transcribe"));
    EXPECT_EQ(transcriber->calls().size(), 2u);
    EXPECT_EQ(documents().size(), 2u);
    EXPECT_EQ(bytesOf(*first.audioURL), firstBytes);
    EXPECT_EQ(bytesOf(*second.audioURL), secondBytes);
}

TEST_F(WhisperRecorderTest, ARecordingStartedDuringTranscriptionKeepsItsOwnFile)
{
    auto recorder = makeRecorder();
    recorder->setAudioPreprocessingEnabled(false);
    transcriber->script({Reply {{"Title: First memo"}, false, true}, Reply {{"Title: Second memo"}}});

    ASSERT_FALSE(start(*recorder));
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    clock->advance(1s);
    std::optional<RecordingResult> first;
    recorder->stopRecording([&](RecordingResult result) { first = std::move(result); });
    ASSERT_TRUE(processEventsUntil([&] { return transcriber->isHolding(); }));

    clock->advance(1s);
    ASSERT_FALSE(start(*recorder));
    const auto running = recorder->audioFileURL();
    ASSERT_TRUE(running);
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());

    transcriber->release();
    ASSERT_TRUE(processEventsUntil([&] { return first.has_value(); }));
    EXPECT_EQ(first->audioURL->filename().string(), "2025-01-31_1430_First_memo.m4a");
    EXPECT_EQ(recorder->audioFileURL(), running);
    EXPECT_TRUE(recorder->isRecording());

    clock->advance(1s);
    const RecordingResult second = stop(*recorder);
    ASSERT_TRUE(second.audioURL);
    EXPECT_EQ(second.audioURL->filename().string(), "2025-01-31_1430_Second_memo.m4a");
    EXPECT_DOUBLE_EQ(second.duration, 1.0);
    EXPECT_EQ(documents(), (std::vector<std::string> {"2025-01-31_1430_First_memo.m4a", "2025-01-31_1430_Second_memo.m4a"}));
}

TEST_F(WhisperRecorderTest, AStartOverARunningRecordingEndsItAndKeepsItsFile)
{
    auto recorder = makeRecorder();
    recorder->setAudioPreprocessingEnabled(false);
    ASSERT_FALSE(start(*recorder));
    const auto replaced = recorder->audioFileURL();
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());

    // In the same second: the new file gets a name of its own.
    ASSERT_FALSE(start(*recorder));
    const auto running = recorder->audioFileURL();
    ASSERT_TRUE(replaced && running);
    EXPECT_NE(*running, *replaced);
    EXPECT_EQ(running->stem().string(), replaced->stem().string() + "_2");
    EXPECT_NEAR(audioSeconds(*replaced), 1.0, 0.15);
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 2 * 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    clock->advance(2s);
    const RecordingResult result = stop(*recorder);
    ASSERT_TRUE(result.audioURL);
    EXPECT_NEAR(audioSeconds(*result.audioURL), 2.0, 0.15);
    EXPECT_TRUE(std::filesystem::exists(*replaced));
}

TEST_F(WhisperRecorderTest, WithoutAModelTheAudioIsKeptAndWithoutAMicrophoneNothingStarts)
{
    engineFails = true;
    auto recorder = makeRecorder();
    EXPECT_FALSE(recorder->aurisReady());
    EXPECT_FALSE(recorder->isInitializingAuris());
    EXPECT_EQ(recorder->aurisInitProgress(), 0.0);
    ASSERT_TRUE(recorder->error());
    EXPECT_EQ(recorder->error()->errorCase(), RecordingError::aurisNotInitialized);

    // A short file gets one flush wait on the clock before the road goes on.
    ASSERT_FALSE(start(*recorder));
    std::optional<RecordingResult> result;
    recorder->stopRecording([&](RecordingResult finished) { result = std::move(finished); });
    ASSERT_TRUE(processEventsUntil([&] { return log.count("⚠️ Audio file suspiciously small") > 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(result);
    clock->advance(500ms);
    ASSERT_TRUE(processEventsUntil([&] { return result.has_value(); }));
    EXPECT_THAT(log.lines(), Contains("⏩ Model not ready, saving audio without transcription"));
    ASSERT_TRUE(result->audioURL);
    EXPECT_EQ(result->audioURL->filename().string(), "2025-01-31_1430_Voice_Memo.m4a");
    EXPECT_EQ(result->transcription, QString());
    EXPECT_DOUBLE_EQ(result->duration, 0.5);
    EXPECT_TRUE(transcriber->calls().empty());
    // Kept for a re-transcription whatever the after-recording settings say.
    EXPECT_TRUE(result->transcriptPending);
    EXPECT_TRUE(result->mustBeKept());

    std::exception_ptr failure;
    bool answered = false;
    recorder->transcribeExistingFile(*result->audioURL, [&](QString, std::exception_ptr error) {
        failure = error;
        answered = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return answered; }));
    ASSERT_TRUE(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const RecordingError& error) {
        EXPECT_STREQ(error.what(), "Auris not initialized. Please wait...");
    }

    // No input at all: the microphone counts as refused.
    microphone->setDevices({});
    testsupport::PublishedStates states(*recorder);
    const std::exception_ptr refused = start(*recorder);
    ASSERT_TRUE(refused);
    EXPECT_THROW(std::rethrow_exception(refused), RecordingError);
    EXPECT_THAT(states.events(), Contains("error=Microphone access denied. Enable in Settings."));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_THAT(log.lines(), Contains("❌ Microphone permission denied"));

    // A microphone that fails to start passes its error on.
    microphone->setDevices({{1, "mic", "Microphone", true, {48000, 2}}});
    microphone->failNextStart("Cannot connect to the sound server");
    const std::exception_ptr broken = start(*recorder);
    ASSERT_TRUE(broken);
    EXPECT_THROW(std::rethrow_exception(broken), platform::AudioCaptureError);
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(WhisperRecorderTest, ReTranscribesAnExistingFileOnceAndBreaksOffWhenTheMicrophoneDoes)
{
    auto recorder = makeRecorder();
    const RecordingResult saved = record(*recorder, 1);
    ASSERT_TRUE(saved.audioURL);
    transcriber->script({Reply {{"Thanks for watching!"}}});
    testsupport::PublishedStates states(*recorder);
    QString text;
    bool answered = false;
    recorder->transcribeExistingFile(*saved.audioURL, [&](QString transcript, std::exception_ptr error) {
        EXPECT_FALSE(error);
        text = transcript;
        answered = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return answered; }));
    // One attempt, no hallucination test, no renaming.
    EXPECT_EQ(text, QStringLiteral("Thanks for watching!"));
    EXPECT_TRUE(std::filesystem::exists(*saved.audioURL));
    EXPECT_TRUE(states.inOrder({"isTranscribing=true", "transcriptionProgress=0", "transcription=Thanks for watching!",
        "isTranscribing=false", "transcriptionProgress=1"}))
        << states.text();
    EXPECT_EQ(transcriber->calls().back().audioPath, saved.audioURL->string());

    // A failed re-transcription reaches the caller as the failure it is.
    transcriber->script({Reply {{}, true}});
    std::exception_ptr failure;
    answered = false;
    log.clear();
    recorder->transcribeExistingFile(*saved.audioURL, [&](QString transcript, std::exception_ptr error) {
        failure = error;
        text = transcript;
        answered = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return answered; }));
    ASSERT_TRUE(failure);
    EXPECT_THROW(std::rethrow_exception(failure), RecordingError);
    EXPECT_EQ(text, QString());
    EXPECT_EQ(log.count("✅ Re-transcription complete"), 0u);
    EXPECT_FALSE(recorder->isTranscribing());

    // A microphone that goes away mid-recording is published as a failed recording and told once;
    // the capture ends, and the audio so far is still saved.
    std::vector<QString> interruptions;
    QObject::connect(recorder.get(), &RecorderService::recordingInterrupted,
        [&](const QString& message) { interruptions.push_back(message); });
    ASSERT_FALSE(start(*recorder));
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    microphone->failStream("The input device stopped");
    ASSERT_TRUE(processEventsUntil([&] { return recorder->error() && recorder->error()->errorCase() == RecordingError::recordingFailed; }));
    ASSERT_TRUE(processEventsUntil([&] { return !interruptions.empty() && !microphone->isCapturing(); }));
    EXPECT_THAT(log.lines(), Contains("❌ Audio recording failed"));
    EXPECT_EQ(interruptions, std::vector<QString> {QStringLiteral(
        "Recording stopped: the audio input ended (The input device stopped). What was recorded until then is kept.")});
    clock->advance(1s);
    const RecordingResult broken = stop(*recorder);
    ASSERT_TRUE(broken.audioURL);
    EXPECT_NEAR(audioSeconds(*broken.audioURL), 1.0, 0.15);
}

TEST_F(WhisperRecorderTest, AModelVerifiedAtStartUpLoadsAtOnceAndAStopWaitsForItsEngine)
{
    // A whole model on disk from an earlier launch.
    ml::WhisperModelSet::write(temporary / "cache" / "parlino" / "models" / "aurislabs" / "auris-coreml" / "openai_whisper-small",
        ml::WhisperShape::smallest(), ml::MultiArrayDataType::float16, ml::randomWhisperWeights(7));
    holdEngineCreation();
    auto recorder = makeRecorder();
    EXPECT_THAT(log.lines(), Contains("✅ Model verified - integrity OK!"));
    EXPECT_TRUE(recorder->aurisReady());
    // The engine is being made in the background without the screens seeing the model go unready.
    ASSERT_TRUE(processEventsUntil([&] { return engineRequests() == 1; }));
    EXPECT_FALSE(recorder->isInitializingAuris());

    testsupport::PublishedStates states(*recorder);
    ASSERT_FALSE(start(*recorder));
    EXPECT_EQ(log.count("🔄 Auris not loaded"), 0u);
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 2 * 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    clock->advance(2s);
    std::optional<RecordingResult> result;
    recorder->stopRecording([&](RecordingResult finished) { result = std::move(finished); });
    ASSERT_TRUE(processEventsUntil([&] { return log.count("⏳ Waiting for the model to finish loading...") == 1; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(result);
    EXPECT_TRUE(recorder->isTranscribing());
    EXPECT_TRUE(recorder->aurisReady());

    releaseEngineCreation();
    ASSERT_TRUE(processEventsUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->transcription, QStringLiteral("Hello there, this is a quick test of the recorder"));
    EXPECT_EQ(engineRequests(), 1u);
    EXPECT_EQ(log.count("⏩ Model not ready"), 0u);
    EXPECT_FALSE(recorder->isTranscribing());
    EXPECT_EQ(std::count(states.events().begin(), states.events().end(), "aurisReady=false"), 0) << states.text();

    // When that load fails instead, the waiting recording is kept untranscribed, and so is a
    // re-transcription asked for meanwhile.
    log.clear();
    holdEngineCreation();
    engineFails = true;
    recorder.reset();
    auto failing = makeRecorder();
    ASSERT_TRUE(processEventsUntil([&] { return engineRequests() == 2; }));
    ASSERT_FALSE(start(*failing));
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    clock->advance(1s);
    result.reset();
    failing->stopRecording([&](RecordingResult finished) { result = std::move(finished); });
    ASSERT_TRUE(processEventsUntil([&] { return log.count("⏳ Waiting for the model") == 1; }));
    std::exception_ptr failure;
    bool answered = false;
    failing->transcribeExistingFile(temporary / "Documents" / "Parlino" / "missing.m4a", [&](QString, std::exception_ptr error) {
        failure = error;
        answered = true;
    });
    QCoreApplication::processEvents();
    EXPECT_FALSE(answered);
    releaseEngineCreation();
    ASSERT_TRUE(processEventsUntil([&] { return result.has_value() && answered; }));
    EXPECT_EQ(result->transcription, QString());
    ASSERT_TRUE(result->audioURL);
    EXPECT_TRUE(std::filesystem::exists(*result->audioURL));
    EXPECT_THAT(log.lines(), Contains("⏩ Model not ready, saving audio without transcription"));
    EXPECT_FALSE(failing->isTranscribing());
    EXPECT_FALSE(failing->aurisReady());
    EXPECT_TRUE(failure);
    EXPECT_EQ(transcriber->calls().size(), 1u);

    // Before the process exits, a load still running is stopped and waited for, and reports nothing.
    holdEngineCreation();
    auto quitting = makeRecorder();
    ASSERT_TRUE(processEventsUntil([&] { return engineRequests() == 3; }));
    log.clear();
    quitting->finishWork();
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    EXPECT_TRUE(quitting->aurisReady());
}

TEST(WhisperRecorderRules, HallucinationsLanguagesAndProgress)
{
    for (const char* text : {"Thanks for watching!", "Thanks for watching?", "  thank you for watching.  ",
             "Ďakujem za pozornosť.", "Thank you for watching, see you next time!", "STAY TUNED"}) {
        EXPECT_TRUE(WhisperRecorder::isHallucination(QString::fromUtf8(text))) << text;
    }
    for (const char* text : {"", "   \n", "We will stay tuned to the market", "Thanks for watching the kids today",
             "Thank you", "?"}) {
        EXPECT_FALSE(WhisperRecorder::isHallucination(QString::fromUtf8(text))) << text;
    }

    EXPECT_EQ(WhisperRecorder::transcriptionLanguage("en-US"), "en");
    EXPECT_EQ(WhisperRecorder::transcriptionLanguage("sk"), "sk");
    EXPECT_EQ(WhisperRecorder::transcriptionLanguage("yue"), "yue");
    EXPECT_EQ(WhisperRecorder::transcriptionLanguage("haw"), "haw");
    EXPECT_FALSE(WhisperRecorder::transcriptionLanguage(""));
    EXPECT_FALSE(WhisperRecorder::transcriptionLanguage("xx"));
    const auto options = WhisperRecorder::decodingOptions(std::string("sk"));
    EXPECT_EQ(options.language, "sk");
    EXPECT_FALSE(options.detectLanguage);
    EXPECT_EQ(options.temperatureFallbackCount, 5);
    EXPECT_EQ(options.sampleLength, 224);
    EXPECT_EQ(options.compressionRatioThreshold, 2.4f);
    EXPECT_EQ(options.noSpeechThreshold, 0.6f);
    EXPECT_TRUE(WhisperRecorder::decodingOptions(std::nullopt).detectLanguage);

    // The share comes from the audio decoded, whichever chunk reports it; the window index plays no part.
    auris::TranscriptionProgress step;
    step.windowId = 7;
    step.audioSecondsDone = 15;
    step.audioSecondsTotal = 60;
    EXPECT_DOUBLE_EQ(WhisperRecorder::progressFraction(step, 420, 3), 0.25);
    step.audioSecondsTotal = 0;
    EXPECT_DOUBLE_EQ(WhisperRecorder::progressFraction(step, 30, 3), 0.5);
    step.audioSecondsDone = 60;
    EXPECT_DOUBLE_EQ(WhisperRecorder::progressFraction(step, 30, 3), 0.95);
    EXPECT_DOUBLE_EQ(WhisperRecorder::progressFraction(auris::TranscriptionProgress {}, 0, 2), 0.2);
    EXPECT_EQ(WhisperRecorder::timeLeftText(0.5, 0.2), QStringLiteral("processing..."));
    EXPECT_EQ(WhisperRecorder::timeLeftText(0.05, 4), QStringLiteral("processing..."));
    EXPECT_EQ(WhisperRecorder::timeLeftText(0.5, 4), QStringLiteral("~4s left"));
    EXPECT_EQ(WhisperRecorder::timeLeftText(0.95, 4), QStringLiteral("almost done"));
}

TEST(WhisperRecorderRules, DecodingKeepsTheEngineDefaultsButForTheTextAndTheChunking)
{
    auris::DecodingOptions expected;
    expected.skipSpecialTokens = true;
    expected.chunkingStrategy = auris::ChunkingStrategy::vad;
    expected.detectLanguage = true;
    EXPECT_EQ(WhisperRecorder::decodingOptions(std::nullopt), expected);

    expected.language = "de";
    expected.detectLanguage = false;
    EXPECT_EQ(WhisperRecorder::decodingOptions(std::string("de")), expected);
}

TEST(WhisperRecorderRules, ModelFailuresNameTheirCauseInAFewWords)
{
    using Reason = ModelFailure::Reason;
    const auto wrapped = [](auto cause) {
        try {
            try {
                throw cause;
            } catch (...) {
                std::throw_with_nested(auris::WhisperError::modelsUnavailable("Model not found."));
            }
        } catch (...) {
            return std::current_exception();
        }
    };
    EXPECT_EQ(ModelFailure::reasonOf(wrapped(platform::NetError(platform::NetError::Code::cannotConnectToHost))),
        Reason::noConnection);
    EXPECT_EQ(ModelFailure::reasonOf(wrapped(hub::HubClientError::httpStatusCode(404))), Reason::notFound);
    EXPECT_EQ(ModelFailure::reasonOf(wrapped(hub::HubClientError::authorizationRequired())), Reason::notFound);
    EXPECT_EQ(ModelFailure::reasonOf(wrapped(platform::NetError(platform::NetError::Code::cannotWriteToFile,
                  std::strerror(ENOSPC)))),
        Reason::noSpace);
    EXPECT_EQ(ModelFailure::reasonOf(wrapped(std::filesystem::filesystem_error(
                  "write", std::make_error_code(std::errc::no_space_on_device)))),
        Reason::noSpace);
    // The wrapper alone means the hub had no such model; an unknown cause says nothing more.
    EXPECT_EQ(ModelFailure::reasonOf(std::make_exception_ptr(auris::WhisperError::modelsUnavailable())), Reason::notFound);
    EXPECT_EQ(ModelFailure::reasonOf(wrapped(std::runtime_error("odd"))), Reason::other);
    EXPECT_EQ(ModelFailure::reasonOf(nullptr), Reason::other);
    EXPECT_EQ((ModelFailure {QStringLiteral("small"), Reason::noConnection}).reasonText(),
        QStringLiteral("no connection to the model hub"));
}

TEST_F(WhisperRecorderTest, ANameTakenJustBeforeTheFileIsMadeIsNeverWrittenOver)
{
    // Another program on the same folder makes a file of the very name between the look and the
    // creation: the recording takes the next name.
    std::optional<std::filesystem::path> taken;
    auto with = dependencies();
    with.audioOutput = [&taken](const std::filesystem::path& path) {
        if (!taken) {
            taken = path;
            testsupport::writeFile(path, "another program's recording");
        }
        return platform::AudioFileOutput::create(path);
    };
    auto recorder = makeRecorder(std::move(with));
    recorder->setAudioPreprocessingEnabled(false);
    const RecordingResult result = record(*recorder, 1);
    ASSERT_TRUE(taken);
    ASSERT_TRUE(result.audioURL);
    EXPECT_EQ(bytesOf(*taken), "another program's recording");
    EXPECT_NE(*result.audioURL, *taken);
    EXPECT_NEAR(audioSeconds(*result.audioURL), 1.0, 0.15);
    EXPECT_THAT(log.lines(), Contains("📁 Audio file: " + taken->stem().string() + "_2.m4a"));
    EXPECT_EQ(documents().size(), 2u);
}

TEST_F(WhisperRecorderTest, AFullDiskEndsTheRecordingKeepsWhatWasWrittenAndLeavesNoEmptyFile)
{
    auto capacity = std::make_shared<std::atomic<std::int64_t>>(6000);
    auto with = dependencies();
    with.audioOutput = [capacity](const std::filesystem::path& path) {
        return std::make_unique<testsupport::FullDiskOutput>(path, capacity->load());
    };
    auto recorder = makeRecorder(std::move(with));
    ASSERT_TRUE(recorder->aurisReady());

    std::optional<QString> interrupted;
    QObject::connect(recorder.get(), &RecorderService::recordingInterrupted,
        [&](const QString& message) { interrupted = message; });
    ASSERT_FALSE(start(*recorder));
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 5 * 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    ASSERT_TRUE(processEventsUntil([&] { return interrupted.has_value(); }));
    EXPECT_THAT(interrupted->toStdString(), HasSubstr("the audio could not be written (No space left on device)"));
    EXPECT_THAT(interrupted->toStdString(), HasSubstr("is kept in recording_"));
    EXPECT_EQ(log.count("❌ Recording stopped: the audio could not be written (No space left on device)"), 1u);
    ASSERT_TRUE(recorder->error());
    EXPECT_EQ(recorder->error()->errorCase(), RecordingError::recordingFailed);

    clock->advance(5s);
    const RecordingResult result = stop(*recorder);
    ASSERT_TRUE(result.audioURL);
    // Neither transcribed nor named as if whole; what reached the disk plays.
    EXPECT_TRUE(result.audioURL->filename().string().starts_with("recording_"));
    EXPECT_TRUE(transcriber->calls().empty());
    EXPECT_EQ(result.transcription, QString());
    EXPECT_EQ(result.writeFailure, QStringLiteral("No space left on device"));
    EXPECT_TRUE(result.mustBeKept());
    EXPECT_LE(std::filesystem::file_size(*result.audioURL), 6000u);
    EXPECT_GT(audioSeconds(*result.audioURL), 0.5);
    EXPECT_LT(audioSeconds(*result.audioURL), 4.0);

    // No room even for the header: the start fails and no empty file is left.
    capacity->store(100);
    const auto before = documents();
    const std::exception_ptr refused = start(*recorder);
    ASSERT_TRUE(refused);
    EXPECT_THAT([&] { std::rethrow_exception(refused); },
        ::testing::ThrowsMessage<platform::AudioFileError>(HasSubstr("No space left on device")));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(documents(), before);
}
