#pragma once

#include "app/recorder/RecorderService.hpp"
#include "platform/audio/PulseAudioCapture.hpp"
#include "support/ChildProcess.hpp"
#include "support/XvfbTestServer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace x11test {

constexpr std::chrono::milliseconds patience {20000};

// The X server (with openbox) the test process's Qt runs on; nullptr when none could start.
testsupport::XvfbTestServer* server();
const std::string& whyNoServer();

#define X11_DESKTOP_OR_SKIP()                                                                                   \
    if (!x11test::server()) {                                                                                   \
        GTEST_SKIP() << "no X server: " << x11test::whyNoServer();                                              \
    }

// A paste-target window in a process of its own: a line edit that prints what it receives.
class PasteTarget {
public:
    explicit PasteTarget(const std::string& title);

    unsigned long window() const { return window_; }
    int pid() const;
    // Runs the event loop until the target printed a line holding `text`, so that this process
    // can serve the clipboard meanwhile.
    bool waitForText(const std::string& text);
    std::string output() const;

private:
    std::unique_ptr<testsupport::ChildProcess> process_;
    unsigned long window_ = 0;
};

// Brings the window to the front as a pager would, and waits until the window manager says so.
bool bringToFront(unsigned long window);
bool isInFront(unsigned long window);

// A recorder for the dictation road over the real sound server: it captures the default
// microphone while it records, and its scripted transcriber gives `sentence` once speech (a second
// of audio well above silence) has arrived, and nothing otherwise.
class CaptureRecorder final : public parlino::RecorderService {
    Q_OBJECT

public:
    CaptureRecorder(platform::UserDefaults& defaults, std::string serverAddress, QString sentence);
    ~CaptureRecorder() override;

    using RecorderService::setAurisReady;

    void startRecording(StartCompletion completion) override;
    void stopRecording(StopCompletion completion) override;
    void transcribeExistingFile(const std::filesystem::path&, TranscribeCompletion completion) override;
    void switchModel(const QString&, Completion completion) override;
    void deleteAndRedownloadModel(Completion completion) override;
    void cancelModelDownload() override {}

    // Seconds of captured audio louder than silence.
    double speechSeconds() const;
    int startCalls = 0;
    int stopCalls = 0;

    static constexpr double speechNeeded = 1.0;

private:
    platform::PulseAudioCapture capture_;
    QString sentence_;
    mutable std::mutex mutex_;
    std::size_t loudFrames_ = 0;
    std::uint32_t sampleRate_ = 0;
};

// Feeds samples into the sound server's microphone on a thread of its own.
class Feeder {
public:
    Feeder(std::function<void(const std::atomic<bool>& cancel)> feed);
    ~Feeder();

private:
    std::atomic<bool> cancel_ {false};
    std::thread thread_;
};

// The program's path in the build tree; empty when it is not built.
std::string pasteTargetProgram();

} // namespace x11test
