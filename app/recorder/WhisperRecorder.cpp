#include "app/recorder/WhisperRecorder.hpp"

#include "app/recorder/AurisTranscriber.hpp"

#include "Auris/Text/Constants.hpp"
#include "platform/audio/AudioRecorder.hpp"
#include "platform/audio/FileAudioCapture.hpp"
#include "platform/audio/PulseAudioCapture.hpp"
#include "platform/system/SystemLog.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace parlino {

namespace {

constexpr const char* debugPrefix = "🐛 WHISPER DEBUG: ";

} // namespace

const platform::AudioFileSettings WhisperRecorder::recordingSettings {
    platform::AudioFileSettings::FormatID::mpeg4AAC, 16000, 1, 32000};

WhisperRecorder::Dependencies WhisperRecorder::Dependencies::standard()
{
    Dependencies dependencies;
    const char* captureFile = std::getenv(captureFileVariable);
    if (captureFile && *captureFile) {
        dependencies.captureSource = std::make_shared<platform::FileAudioCapture>(captureFile);
    } else {
        dependencies.captureSource = std::make_shared<platform::PulseAudioCapture>();
    }
    dependencies.makeTranscriber = &AurisTranscriber::create;
    dependencies.clock = std::make_shared<SystemRecorderClock>();
    dependencies.folders = RecorderFolders::standard();
    dependencies.log = standardOutputLog();
    dependencies.systemLog = [](const std::string& line) {
        platform::SystemLog::write("com.parlino.app", "WhisperRecorder", platform::SystemLog::Type::defaultType, line);
    };
    return dependencies;
}

WhisperRecorder& WhisperRecorder::shared()
{
    // Lives as long as the process, like the settings store it is bound to.
    static WhisperRecorder* const recorder = new WhisperRecorder(platform::UserDefaults::standard(), Dependencies::standard());
    return *recorder;
}

WhisperRecorder::WhisperRecorder(platform::UserDefaults& defaults, Dependencies dependencies, QObject* parent)
    : RecorderService(defaults, parent)
    , dependencies_(std::move(dependencies))
    , modelStore_(dependencies_.folders.modelStore, dependencies_.log)
    , poster_(std::make_shared<MainThreadPoster>(this))
    , engineLoader_(*this, *this,
          {dependencies_.makeTranscriber, dependencies_.folders.modelStore, modelStore_, dependencies_.clock, workers_, poster_})
    , stopSequence_(*this, *this, {dependencies_.clock, dependencies_.folders.temporary, captureQueue_, workers_, poster_})
{
    // Capture control runs in order: a stop never overtakes the start before it.
    captureQueue_.setMaxThreadCount(1);
    captureQueue_.setExpiryTimeout(-1);
    workers_.setMaxThreadCount(std::max(4, QThread::idealThreadCount()));

    const QString model = whisperModel();
    defaults.setString(QStringLiteral("WHISPER_INIT_TIME"),
        dependencies_.clock->now().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")));
    defaults.setString(QStringLiteral("WHISPER_INIT_MODEL"), model);
    systemLog(std::string(debugPrefix) + "✅ WhisperRecorder initialized");
    systemLog(std::string(debugPrefix) + "🔍 Selected model: " + model.toStdString());
    print("✅ WhisperRecorder initialized");
    print("🔍 Selected model: " + model.toStdString());

    post([this] {
        systemLog(std::string(debugPrefix) + "🚀 Starting model check task...");
        print("🚀 Starting model check...");
        loadOrDownloadDefaultModel();
    });
}

WhisperRecorder::~WhisperRecorder()
{
    finishWork();
}

void WhisperRecorder::finishWork()
{
    poster_->close();
    shutdown_.request_stop();
    engineLoader_.shutDown();
    if (session_ && session_->recorder) {
        auto recorder = session_->recorder;
        captureQueue_.start([recorder] { recorder->stop(); });
    }
    captureQueue_.waitForDone();
    workers_.waitForDone();
    stopSequence_.finishWork();
}

void WhisperRecorder::post(std::function<void()> work) const
{
    poster_->post(std::move(work));
}

void WhisperRecorder::print(const std::string& line) const
{
    if (dependencies_.log) {
        dependencies_.log(line);
    }
}

ConsoleLog WhisperRecorder::consoleLog() const
{
    return dependencies_.log ? dependencies_.log : ConsoleLog([](const std::string&) {});
}

void WhisperRecorder::systemLog(const std::string& line) const
{
    if (dependencies_.systemLog) {
        dependencies_.systemLog(line);
    }
}

std::optional<std::filesystem::path> WhisperRecorder::audioFileURL() const
{
    if (!session_) {
        return std::nullopt;
    }
    return session_->url;
}

std::optional<std::string> WhisperRecorder::transcriptionLanguage(const QString& stored)
{
    const auto& codes = auris::Constants::languageCodes();
    const std::string code = stored.toStdString();
    if (codes.contains(code)) {
        return code;
    }
    const std::string prefix = stored.left(2).toStdString();
    if (codes.contains(prefix)) {
        return prefix;
    }
    return std::nullopt;
}

auris::DecodingOptions WhisperRecorder::decodingOptions(const std::optional<std::string>& language)
{
    // The engine's defaults except for the fields below.
    return auris::DecodingOptions(auris::DecodingOptions::Arguments {
        .language = language,
        // Without a language the engine finds out which one is spoken.
        .detectLanguage = language ? std::nullopt : std::optional<bool>(true),
        // Special tokens never reach a transcript.
        .skipSpecialTokens = true,
        // Long recordings are cut at pauses in the speech.
        .chunkingStrategy = auris::ChunkingStrategy::vad,
    });
}

double WhisperRecorder::progressFraction(const auris::TranscriptionProgress& step, double audioSeconds, double elapsedSeconds)
{
    const double total = step.audioSecondsTotal > 0 ? step.audioSecondsTotal : audioSeconds;
    const double raw = total > 0 ? step.audioSecondsDone / total : elapsedSeconds / 10;
    return std::isfinite(raw) ? std::clamp(raw, 0.0, progressCap) : 0.0;
}

QString WhisperRecorder::timeLeftText(double progress, double elapsedSeconds)
{
    if (progress <= StopSequence::initialTranscriptionProgress || elapsedSeconds <= 0.5) {
        return QStringLiteral("processing...");
    }
    const double remaining = elapsedSeconds / progress - elapsedSeconds;
    return remaining >= 1 ? QStringLiteral("~%1s left").arg(static_cast<long long>(remaining)) : QStringLiteral("almost done");
}

bool WhisperRecorder::shouldPreprocessAudio() const
{
    return audioPreprocessingEnabled() && (noiseSuppression() || volumeNormalization() || resample16kHz());
}

} // namespace parlino
