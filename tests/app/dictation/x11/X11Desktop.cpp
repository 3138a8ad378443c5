#include "app/dictation/x11/X11Desktop.hpp"

#include "platform/input/ActiveWindow.hpp"
#include "qtsupport/QtTestSupport.hpp"
#include "support/PasteTargetProgram.hpp"

#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace x11test {

std::string pasteTargetProgram()
{
    return testsupport::pasteTargetProgram();
}

PasteTarget::PasteTarget(const std::string& title)
{
    std::string whyNot;
    process_ = testsupport::ChildProcess::start({pasteTargetProgram(), "--title", title}, whyNot,
                                                {.environment = server()->clientEnvironment(), .passFd = -1});
    if (!process_) {
        ADD_FAILURE() << "paste-target did not start: " << whyNot;
        return;
    }
    const auto shown = process_->waitForLine([](const std::string& line) { return line.rfind("window ", 0) == 0; }, patience);
    if (!shown) {
        ADD_FAILURE() << "paste-target showed no window: " << process_->output();
        return;
    }
    std::istringstream(shown->substr(7)) >> window_;
}

int PasteTarget::pid() const
{
    return process_ ? process_->pid() : -1;
}

bool PasteTarget::waitForText(const std::string& text)
{
    return process_ && testsupport::processEventsUntil([&] {
        return process_->waitForLine([&](const std::string& line) { return line.rfind("text: ", 0) == 0 && line.find(text) != std::string::npos; },
                                     std::chrono::milliseconds(0)).has_value();
    }, patience);
}

std::string PasteTarget::output() const
{
    return process_ ? process_->output() : std::string();
}

namespace {

platform::input::ActiveWindow& windows()
{
    static platform::input::ActiveWindow active(server()->displayName());
    return active;
}

} // namespace

bool isInFront(unsigned long window)
{
    windows().dispatch();
    const auto front = windows().frontmost();
    return front && front->window == window;
}

bool bringToFront(unsigned long window)
{
    return testsupport::processEventsUntil([&] {
        if (isInFront(window)) {
            return true;
        }
        windows().activate(static_cast<platform::input::WindowId>(window));
        return false;
    }, patience);
}

CaptureRecorder::CaptureRecorder(platform::UserDefaults& defaults, std::string serverAddress, QString sentence)
    : RecorderService(defaults)
    , capture_({serverAddress, "Parlino dictation tests", std::chrono::seconds(10)})
    , sentence_(std::move(sentence))
{
}

CaptureRecorder::~CaptureRecorder()
{
    capture_.stop();
}

void CaptureRecorder::startRecording(StartCompletion completion)
{
    ++startCalls;
    std::exception_ptr error;
    try {
        {
            std::lock_guard lock(mutex_);
            loudFrames_ = 0;
        }
        const auto format = capture_.start({std::nullopt, 16000, 1, 0}, [this](const platform::AudioCaptureBlock& block) {
            std::size_t loud = 0;
            for (std::size_t frame = 0; frame < block.frameCount(); ++frame) {
                loud += std::abs(block.samples[frame * block.format.channelCount]) > 0.02f;
            }
            std::lock_guard lock(mutex_);
            loudFrames_ += loud;
        });
        sampleRate_ = format.sampleRate;
        setTranscription(QString());
        setIsRecording(true);
    } catch (...) {
        error = std::current_exception();
    }
    QTimer::singleShot(0, this, [completion = std::move(completion), error] { completion(error); });
}

double CaptureRecorder::speechSeconds() const
{
    std::lock_guard lock(mutex_);
    return sampleRate_ == 0 ? 0 : static_cast<double>(loudFrames_) / sampleRate_;
}

void CaptureRecorder::stopRecording(StopCompletion completion)
{
    ++stopCalls;
    const bool recorded = isRecording();
    capture_.stop();
    setIsRecording(false);
    parlino::RecordingResult result;
    if (recorded && speechSeconds() >= speechNeeded) {
        result.transcription = sentence_;
    }
    result.duration = 2.0;
    setTranscription(result.transcription);
    QTimer::singleShot(0, this, [completion = std::move(completion), result] { completion(result); });
}

void CaptureRecorder::transcribeExistingFile(const std::filesystem::path&, TranscribeCompletion completion)
{
    QTimer::singleShot(0, this, [completion = std::move(completion)] { completion(QString(), nullptr); });
}

void CaptureRecorder::switchModel(const QString&, Completion completion)
{
    if (completion) {
        QTimer::singleShot(0, this, std::move(completion));
    }
}

void CaptureRecorder::deleteAndRedownloadModel(Completion completion)
{
    if (completion) {
        QTimer::singleShot(0, this, std::move(completion));
    }
}

Feeder::Feeder(std::function<void(const std::atomic<bool>&)> feed)
    : thread_([this, feed = std::move(feed)] { feed(cancel_); })
{
}

Feeder::~Feeder()
{
    cancel_ = true;
    thread_.join();
}

} // namespace x11test
