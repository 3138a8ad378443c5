#include "app/dictation/x11/X11Desktop.hpp"

#include "app/dictation/GlobalHotkeyManager.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/X11HotkeyInput.hpp"
#include "platform/input/InputTestSupport.hpp"
#include "platform/input/KeyCodeMapping.hpp"
#include "qtsupport/QtTestSupport.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QStringList>

#include <X11/Xlib.h>

#include <gtest/gtest.h>

using parlino::GlobalHotkeyManager;
namespace flag = platform::input::modifierFlag;
namespace keysym = platform::input::keysym;
namespace SettingsKeys = parlino::SettingsKeys;

namespace {

// Ctrl+Alt+Space held for a while: the held Space repeats, as auto-repeat would over 1.5 s.
void holdHotkey(inputtests::FakeKeyboard& keyboard)
{
    keyboard.press(keysym::controlLeft);
    keyboard.press(keysym::altLeft);
    for (int repeat = 0; repeat < 25; ++repeat) {
        keyboard.press(keysym::space);
    }
    keyboard.release(keysym::space);
    keyboard.release(keysym::altLeft);
    keyboard.release(keysym::controlLeft);
}

// Every event the server has sent is handled before the count is read.
int settledCount(const int& presses, int atLeast)
{
    testsupport::processEventsUntil([&] { return presses >= atLeast; }, x11test::patience);
    for (int turn = 0; turn < 10; ++turn) {
        QCoreApplication::processEvents();
    }
    return presses;
}

} // namespace

TEST(HotkeyOnX11, CtrlAltSpaceIsStoredFiresOnceAHoldWithAnyLockAndComesBackInANewManager)
{
    X11_DESKTOP_OR_SKIP();
    const std::string display = x11test::server()->displayName();
    testsupport::TemporaryDirectory scratch;
    platform::UserDefaults defaults(scratch / "parlino.conf");
    QStringList log;
    inputtests::FakeKeyboard keyboard(display);
    int presses = 0;
    {
        parlino::X11HotkeyInput input(display);
        GlobalHotkeyManager manager({defaults, input, [&](const QString& line) { log << line; }});
        manager.setOnHotkeyPressed([&] { ++presses; });
        ASSERT_TRUE(manager.registerHotkey(flag::control | flag::option, 49)) << log.join('\n').toStdString();
        EXPECT_EQ(defaults.integerValue(QString::fromLatin1(SettingsKeys::globalHotkeyModifiers)), 0x0C0000);
        EXPECT_EQ(defaults.integerValue(QString::fromLatin1(SettingsKeys::globalHotkeyKeyCode)), 49);
        EXPECT_EQ(manager.currentShortcut(), QStringLiteral("Ctrl+Alt+Space"));

        holdHotkey(keyboard);
        EXPECT_EQ(settledCount(presses, 1), 1);
        keyboard.tap(keysym::capsLock);
        holdHotkey(keyboard);
        EXPECT_EQ(settledCount(presses, 2), 2) << "Caps Lock on";
        keyboard.tap(keysym::capsLock);
        keyboard.tap(keysym::numLock);
        holdHotkey(keyboard);
        EXPECT_EQ(settledCount(presses, 3), 3) << "Num Lock on";
        keyboard.tap(keysym::numLock);

        // A combination another program holds: refused with the reason, the hotkey stays.
        const unsigned k = keyboard.keycodeOf('k');
        XGrabKey(keyboard.display(), static_cast<int>(k), ControlMask | ShiftMask, DefaultRootWindow(keyboard.display()), True,
                 GrabModeAsync, GrabModeAsync);
        XSync(keyboard.display(), False);
        EXPECT_FALSE(manager.registerHotkey(flag::control | flag::shift, 40));
        EXPECT_EQ(log.back(), QStringLiteral("❌ Failed to register hotkey: the key combination is already taken by another program"));
        EXPECT_TRUE(manager.isHotkeyEnabled());
        EXPECT_EQ(manager.currentShortcut(), QStringLiteral("Ctrl+Alt+Space"));
        holdHotkey(keyboard);
        EXPECT_EQ(settledCount(presses, 4), 4);
        XUngrabKey(keyboard.display(), static_cast<int>(k), ControlMask | ShiftMask, DefaultRootWindow(keyboard.display()));
        XSync(keyboard.display(), False);
    }

    // The next start grabs the stored combination again.
    parlino::X11HotkeyInput input(display);
    GlobalHotkeyManager restarted({defaults, input, [&](const QString& line) { log << line; }});
    EXPECT_TRUE(restarted.isHotkeyEnabled());
    int restartedPresses = 0;
    restarted.setOnHotkeyPressed([&] { ++restartedPresses; });
    holdHotkey(keyboard);
    EXPECT_EQ(settledCount(restartedPresses, 1), 1);
    EXPECT_EQ(presses, 4);
}
