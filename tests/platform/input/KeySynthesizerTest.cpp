#include "platform/input/KeySynthesizer.hpp"

#include "platform/input/InputTestSupport.hpp"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;
using platform::input::KeySynthesizer;
using Key = inputtests::TestWindow::Key;

TEST(KeySynthesizer, TypesCtrlVAndReturnIntoTheFocusedWindowReleasesEverythingAndFollowsTheLayout)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::TestWindow window(server->displayName(), "target", ::getpid());
    ASSERT_TRUE(inputtests::mapAndFocus(window));
    inputtests::WindowSource events(window);
    inputtests::FakeKeyboard keyboard(server->displayName());
    KeySynthesizer synthesizer(server->displayName());

    synthesizer.postPaste();
    synthesizer.postReturn();
    ASSERT_TRUE(inputtests::pumpUntil({&events}, [&] { return window.keyReleases() == 3; }));
    EXPECT_EQ(window.presses(), (std::vector<Key> {{keysym::controlLeft, 0}, {keysym::v, modifier::control},
                                                   {keysym::returnKey, 0}}));
    EXPECT_FALSE(keyboard.isDown(keysym::controlLeft));
    EXPECT_FALSE(keyboard.isDown(keysym::v));
    EXPECT_EQ(synthesizer.heldModifiers(), 0u);

    // The user's own modifiers show, so that a paste can wait for them to come up.
    keyboard.press(keysym::altLeft);
    keyboard.press(keysym::shiftRight);
    EXPECT_EQ(synthesizer.heldModifiers(), modifier::mod1 | modifier::shift);
    keyboard.release(keysym::altLeft);
    keyboard.release(keysym::shiftRight);
    keyboard.tap(keysym::capsLock);
    EXPECT_EQ(synthesizer.heldModifiers(), 0u);
    const unsigned vKey = keyboard.keycodeOf(keysym::v);
    const unsigned qKey = keyboard.keycodeOf('q');

    // V and Q change places, as switching to another layout would do.
    KeySym vSymbols[] {'v', 'V'};
    KeySym qSymbols[] {'q', 'Q'};
    XChangeKeyboardMapping(keyboard.display(), static_cast<int>(qKey), 2, vSymbols, 1);
    XChangeKeyboardMapping(keyboard.display(), static_cast<int>(vKey), 2, qSymbols, 1);
    XSync(keyboard.display(), False);
    ASSERT_TRUE(inputtests::pumpUntil({&events}, [&] { return window.keyReleases() == 6; }));
    synthesizer.postPaste();
    ASSERT_TRUE(inputtests::pumpUntil({&events}, [&] { return window.keyReleases() == 8; }));
    EXPECT_EQ(window.pressedKeycodes()[1], vKey);
    EXPECT_EQ(window.pressedKeycodes().back(), qKey);
}
