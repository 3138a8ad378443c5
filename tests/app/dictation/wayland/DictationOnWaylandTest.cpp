#include "app/dictation/DictationHelper.hpp"
#include "app/dictation/GlobeDictationManager.hpp"
#include "app/dictation/InputBackends.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/WaylandFrontWindow.hpp"
#include "app/dictation/support/FakeInputs.hpp"
#include "app/dictation/support/ManualClock.hpp"
#include "app/ui/support/FakeLibrary.hpp"
#include "app/ui/support/FakeRecorder.hpp"
#include "qtsupport/QtTestSupport.hpp"
#include "support/ChildProcess.hpp"
#include "support/PasteTargetProgram.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/SwayTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QGuiApplication>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>


namespace waylandtest {
testsupport::SwayTestServer* server();
const std::string& whyNoServer();
} // namespace waylandtest

using namespace std::chrono_literals;
using parlino::GlobeDictationManager;
using Trigger = parlino::GlobeDictationService::Trigger;
namespace keysym = platform::input::keysym;
namespace SettingsKeys = parlino::SettingsKeys;
using testsupport::processEventsUntil;

namespace {

constexpr std::chrono::milliseconds patience {20000};

#define SWAY_OR_SKIP()                                                                                          \
    if (!waylandtest::server()) {                                                                               \
        GTEST_SKIP() << waylandtest::whyNoServer();                                                             \
    }                                                                                                           \
    if (testsupport::pasteTargetProgram().empty()) {                                                                         \
        GTEST_SKIP() << "tools/paste-target is not built";                                                      \
    }

// Another application's window on the compositor, which takes the keyboard focus as it appears.
class PasteTarget {
public:
    PasteTarget()
    {
        std::string whyNot;
        process_ = testsupport::ChildProcess::start({testsupport::pasteTargetProgram(), "--title", "Wayland target"}, whyNot,
                                                    {.environment = waylandtest::server()->clientEnvironment()});
        if (!process_) {
            ADD_FAILURE() << "paste-target did not start: " << whyNot;
            return;
        }
        if (!process_->waitForLine([](const std::string& line) { return line == "active"; }, patience)) {
            ADD_FAILURE() << "paste-target showed no window: " << process_->output() << waylandtest::server()->log();
        }
    }
    // Runs the event loop, which serves the clipboard meanwhile, until the target printed `line`.
    bool prints(const std::string& line)
    {
        return process_ && processEventsUntil([&] {
            return process_->waitForLine([&](const std::string& printed) { return printed == line; }, 0ms).has_value();
        }, patience);
    }
    std::string output() const { return process_ ? process_->output() : std::string(); }

private:
    std::unique_ptr<testsupport::ChildProcess> process_;
};

// The push-to-talk road with the real paste helper on the compositor: the keyboard the trigger
// watches is played by the test, as no physical keyboard is there to watch.
struct WaylandRoad {
    WaylandRoad(parlino::Clipboard& clipboard, parlino::PasteInput& pasteInput)
        : helper({defaults, clipboard, pasteInput, sounds, clock, [this](const QString& line) { log << line; }})
    {
        recorder.setAurisReady(true);
        defaults.setBool(QString::fromLatin1(SettingsKeys::dictationRightShiftEnabled), true);
        defaults.setBool(QString::fromLatin1(SettingsKeys::soundFeedbackEnabled), false);
        manager = std::make_unique<GlobeDictationManager>(GlobeDictationManager::Dependencies {
            defaults, recorder, library, helper, trigger, clock, [this](const QString& line) { log << line; }});
    }

    void advance(std::chrono::milliseconds span)
    {
        clock.advance(span);
        QCoreApplication::processEvents();
    }
    // Right Shift held 2 s while speaking `text`; returns once the helper has put it on the clipboard.
    void dictate(const QString& text, const parlino::Clipboard& clipboard)
    {
        // What a Wayland client knows of the window in front as the key goes down: ours or another.
        trigger.front = parlino::WaylandFrontWindow::current();
        trigger.press(keysym::shiftRight);
        advance(300ms);
        ASSERT_TRUE(processEventsUntil([&] { return recorder.isRecording(); }, patience)) << log.join('\n').toStdString();
        advance(1700ms);
        trigger.release(keysym::shiftRight);
        ASSERT_TRUE(processEventsUntil([&] { return recorder.hasPendingStop(); }, patience));
        recorder.finishStop({std::nullopt, text, 2.0, std::nullopt});
        ASSERT_TRUE(processEventsUntil([&] { return clipboard.text() == text; }, patience)) << log.join('\n').toStdString();
    }
    // Lets the helper's timers run: the front check, the paste and the Return after it.
    void letThePasteRun()
    {
        for (int step = 0; step < 20; ++step) {
            advance(100ms);
        }
    }

    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder / "parlino.conf"};
    uitest::FakeRecorder recorder {defaults};
    uitest::FakeLibrary library {folder.path()};
    dictationtest::ManualClock clock;
    dictationtest::FakeTriggerInput trigger;
    QStringList log;
    parlino::ThemeSoundPlayer sounds;
    parlino::DictationHelper helper;
    std::unique_ptr<GlobeDictationManager> manager;
};

} // namespace

// The program as a native Wayland client dictating into another application's window: the
// transcript goes on the clipboard through the compositor's clipboard control while the other
// window has the focus, Ctrl+V and then Return (as set) come through the virtual keyboard; and the
// paste never goes into our own window when it has the focus, the text staying on the clipboard.
TEST(DictationOnWayland, PushToTalkPastesThroughTheClipboardControlAndTheVirtualKeyboard)
{
    SWAY_OR_SKIP();
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    PasteTarget target;
    ASSERT_FALSE(HasFailure());
    // The session's chooser takes the compositor's virtual keyboard and clipboard control.
    parlino::InputBackends backends(parlino::InputBackends::Session::wayland);
    parlino::registerWaylandProtocolBackends(backends);
    EXPECT_EQ(backends.typingName(), "virtual keyboard");
    EXPECT_EQ(backends.clipboardName(), "data control");
    auto& clipboard = backends.clipboard();
    WaylandRoad road(clipboard, backends.typing());
    road.defaults.setBool(QString::fromLatin1(SettingsKeys::autoEnterAfterPaste), true);
    ASSERT_TRUE(road.manager->isEventTapRunning()) << road.log.join('\n').toStdString();

    road.dictate(QStringLiteral("Dictated on Wayland, ďakujem."), clipboard);
    road.letThePasteRun();
    EXPECT_TRUE(target.prints("text: Dictated on Wayland, ďakujem.")) << target.output() << road.log.join('\n').toStdString();
    EXPECT_TRUE(target.prints("return: Dictated on Wayland, ďakujem.")) << target.output() << road.log.join('\n').toStdString();

    // Our own window takes the focus: nothing is typed, and the transcript waits on the clipboard.
    QWidget ownWindow;
    ownWindow.resize(200, 100);
    ownWindow.show();
    ASSERT_TRUE(processEventsUntil([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }, patience));
    road.advance(2000ms);
    road.dictate(QStringLiteral("Kept for later"), clipboard);
    road.letThePasteRun();
    EXPECT_TRUE(road.log.contains(QStringLiteral("❌ Paste failed: a window of Parlino's own has the focus")))
        << road.log.join('\n').toStdString();
    EXPECT_EQ(clipboard.text(), QStringLiteral("Kept for later"));
    EXPECT_EQ(target.output().find("Kept for later"), std::string::npos);
    EXPECT_EQ(road.recorder.startCalls, 2);
}

// A compositor out of reach leaves the text to a clipboard of our own and says why nothing can be
// typed; once it is there, the keyboard is taken up and, the clipboard being one no other
// application reads, the transcript is typed into the window in front.
TEST(DictationOnWayland, WithoutTheClipboardControlTheTranscriptIsTyped)
{
    SWAY_OR_SKIP();
    PasteTarget target;
    ASSERT_FALSE(HasFailure());
    parlino::InputBackends backends(parlino::InputBackends::Session::wayland);
    parlino::registerWaylandProtocolBackends(backends);
    {
        testsupport::ScopedEnvironment nowhere("WAYLAND_DISPLAY", "/nonexistent/wayland-0");
        EXPECT_EQ(backends.clipboardName(), "kept by Parlino");
        EXPECT_EQ(backends.typingName(), "");
        try {
            backends.typing().postPaste();
            ADD_FAILURE() << "a paste went nowhere without an error";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find("virtual keyboard: Cannot connect to the Wayland compositor"), std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(backends.typingName(), "virtual keyboard");
    auto& clipboard = backends.clipboard();
    WaylandRoad road(clipboard, backends.typing());

    road.dictate(QStringLiteral("Typed key by key: Ťažké „úvodzovky“ €5"), clipboard);
    road.letThePasteRun();
    EXPECT_TRUE(target.prints("text: Typed key by key: Ťažké „úvodzovky“ €5")) << target.output() << road.log.join('\n').toStdString();
    // Return was not asked for.
    EXPECT_EQ(target.output().find("return: "), std::string::npos);
}
