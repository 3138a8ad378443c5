#include "platform/input/HotkeyGrabber.hpp"

#include "platform/input/ErrorTrap.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/InputTestSupport.hpp"
#include "platform/input/KeyboardLayout.hpp"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;
using platform::input::HotkeyGrabber;
using Hotkey = platform::input::HotkeyGrabber::Hotkey;
using platform::input::Keysym;

namespace {

constexpr Hotkey controlAltSpace {keysym::space, modifier::control | modifier::mod1};
constexpr Hotkey controlAltA {'a', modifier::control | modifier::mod1};
constexpr std::chrono::milliseconds longHold {1500};

// Holds the hotkey's keys down for `duration` while the grabber handles what arrives, then lets go.
void hold(inputtests::FakeKeyboard& keyboard, HotkeyGrabber& grabber, Keysym key, std::chrono::milliseconds duration)
{
    keyboard.press(keysym::controlLeft);
    keyboard.press(keysym::altLeft);
    keyboard.press(key);
    // The hold itself is the input here: nothing is awaited.
    inputtests::pumpUntil({&grabber}, [] { return false; }, duration);
    keyboard.release(key);
    keyboard.release(keysym::altLeft);
    keyboard.release(keysym::controlLeft);
}

// Another program on the same display, grabbing keys on the root window in its own name.
class OtherClient {
public:
    explicit OtherClient(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) {}
    ~OtherClient() { XCloseDisplay(display_); }

    // True when every grab was granted.
    bool grab(const Hotkey& hotkey, std::initializer_list<unsigned> masks)
    {
        platform::input::ErrorTrap trap(display_);
        for (const auto code : platform::input::KeyboardLayout::keycodesFor(display_, hotkey.keysym)) {
            for (const auto mask : masks) {
                XGrabKey(display_, static_cast<int>(code), mask, DefaultRootWindow(display_), False, GrabModeAsync,
                         GrabModeAsync);
            }
        }
        return !trap.sync();
    }
    void ungrabAll()
    {
        XUngrabKey(display_, AnyKey, AnyModifier, DefaultRootWindow(display_));
        XSync(display_, False);
    }

private:
    Display* display_;
};

} // namespace

TEST(HotkeyGrabber, AHeldHotkeyFiresOnceAlsoWithCapsLockOrNumLockOn)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::FakeKeyboard keyboard(server->displayName());
    {
        // Holding a key does repeat on this server, so the holds below do test the repeat filter.
        inputtests::TestWindow window(server->displayName(), "repeats", ::getpid());
        ASSERT_TRUE(inputtests::mapAndFocus(window));
        inputtests::WindowSource events(window);
        keyboard.press(keysym::space);
        ASSERT_TRUE(inputtests::pumpUntil({&events}, [&] { return window.presses().size() > 2; }));
        keyboard.release(keysym::space);
    }
    int fired = 0;
    HotkeyGrabber grabber(server->displayName(), [&] { ++fired; });
    grabber.grab(controlAltSpace);
    ASSERT_EQ(grabber.hotkey(), controlAltSpace);

    hold(keyboard, grabber, keysym::space, longHold);
    // A short press afterwards shows that everything before it has been handled.
    hold(keyboard, grabber, keysym::space, std::chrono::milliseconds(0));
    ASSERT_TRUE(inputtests::pumpUntil({&grabber}, [&] { return fired >= 2; })) << fired;
    EXPECT_EQ(fired, 2);

    keyboard.tap(keysym::capsLock);
    hold(keyboard, grabber, keysym::space, longHold);
    ASSERT_TRUE(inputtests::pumpUntil({&grabber}, [&] { return fired >= 3; }));
    keyboard.tap(keysym::numLock);
    hold(keyboard, grabber, keysym::space, longHold);
    hold(keyboard, grabber, keysym::space, std::chrono::milliseconds(0));
    ASSERT_TRUE(inputtests::pumpUntil({&grabber}, [&] { return fired >= 5; }));
    EXPECT_EQ(fired, 5);

    // Another key with the same modifiers is not the hotkey.
    keyboard.tap(keysym::capsLock);
    keyboard.tap(keysym::numLock);
    hold(keyboard, grabber, 'b', std::chrono::milliseconds(0));
    hold(keyboard, grabber, keysym::space, std::chrono::milliseconds(0));
    ASSERT_TRUE(inputtests::pumpUntil({&grabber}, [&] { return fired >= 6; }));
    EXPECT_EQ(fired, 6);
}

TEST(HotkeyGrabber, ARefusedGrabLeavesNothingOfItAndKeepsTheFormerHotkey)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::FakeKeyboard keyboard(server->displayName());
    int fired = 0;
    HotkeyGrabber grabber(server->displayName(), [&] { ++fired; });
    grabber.grab(controlAltA);

    // The other program holds only the Caps Lock variant: the plain ones would be granted to us.
    OtherClient other(server->displayName());
    ASSERT_TRUE(other.grab(controlAltSpace, {modifier::control | modifier::mod1 | modifier::lock}));
    try {
        grabber.grab(controlAltSpace);
        ADD_FAILURE() << "a taken combination was grabbed";
    } catch (const platform::input::InputError& error) {
        EXPECT_STREQ(error.what(), "the key combination is already taken by another program");
    }
    EXPECT_EQ(grabber.hotkey(), controlAltA);
    other.ungrabAll();
    OtherClient third(server->displayName());
    EXPECT_TRUE(third.grab(controlAltSpace, {modifier::control | modifier::mod1, modifier::control | modifier::mod1 | modifier::lock,
                                             modifier::control | modifier::mod1 | modifier::mod2,
                                             modifier::control | modifier::mod1 | modifier::lock | modifier::mod2}))
        << "a grab of the refused combination was left behind";
    third.ungrabAll();

    hold(keyboard, grabber, 'a', std::chrono::milliseconds(0));
    ASSERT_TRUE(inputtests::pumpUntil({&grabber}, [&] { return fired == 1; }));

    // Keycode 0 would grab every key: a keysym missing from the layout is refused instead.
    constexpr Hotkey cyrillic {0x6c1 /* Cyrillic_a */, modifier::control};
    try {
        grabber.grab(cyrillic);
        ADD_FAILURE() << "a key missing from the layout was grabbed";
    } catch (const platform::input::InputError& error) {
        EXPECT_STREQ(error.what(), "the keyboard layout has no key for this hotkey");
    }
    EXPECT_EQ(grabber.hotkey(), controlAltA);

    // Grabbing the same combination again keeps it; ungrabbing frees it for others.
    grabber.grab({'a', modifier::control | modifier::mod1 | modifier::lock});
    EXPECT_EQ(grabber.hotkey(), controlAltA);
    grabber.ungrab();
    EXPECT_EQ(grabber.hotkey(), std::nullopt);
    EXPECT_TRUE(third.grab(controlAltA, {modifier::control | modifier::mod1}));
}
