#include "platform/input/KeyTap.hpp"

#include "platform/input/CapsLockMonitor.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/InputTestSupport.hpp"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;
using platform::input::CapsLockMonitor;
using platform::input::KeyTap;
using platform::input::KeyTapEvent;
using Transition = platform::input::KeyTapEvent::Transition;

namespace {

struct Seen {
    platform::input::Keysym keysym;
    Transition transition;
    unsigned modifiers;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& stream, const Seen& seen)
{
    return stream << std::hex << seen.keysym << (seen.transition == Transition::pressed ? " down" : " up")
                  << " mods " << seen.modifiers;
}

const std::vector<platform::input::Keysym> triggerKeys {keysym::controlRight, keysym::shiftRight, keysym::capsLock};

} // namespace

TEST(KeyTap, ReportsTheWatchedKeysWithModifierStateAndOnlyThatOtherPressesHappened)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    std::vector<Seen> seen;
    std::uint32_t lastTime = 0;
    bool timesAscend = true;
    // Where the other presses fell among the watched keys' events.
    std::vector<std::size_t> otherPresses;
    KeyTap tap(server->displayName(), triggerKeys, [&](const KeyTapEvent& event) {
        seen.push_back({event.keysym, event.transition, event.modifiers});
        timesAscend = timesAscend && event.serverTime >= lastTime;
        lastTime = event.serverTime;
    }, [&] { otherPresses.push_back(seen.size()); });
    EXPECT_TRUE(tap.keysHeldAtStart().empty());
    inputtests::FakeKeyboard keyboard(server->displayName());

    keyboard.tap('a');
    keyboard.press(keysym::shiftLeft);
    keyboard.tap('b');
    keyboard.press(keysym::shiftRight);
    // A second press of a held key is what auto-repeat looks like: not reported again.
    keyboard.press(keysym::shiftRight);
    keyboard.press(keysym::controlRight);
    keyboard.tap(keysym::space);
    keyboard.release(keysym::controlRight);
    keyboard.release(keysym::shiftLeft);
    // Right Shift released after Left Shift: still its own release.
    keyboard.release(keysym::shiftRight);
    keyboard.tap('c');
    keyboard.press(keysym::controlRight);
    keyboard.click(1);
    keyboard.click(4);
    keyboard.release(keysym::controlRight);

    ASSERT_TRUE(inputtests::pumpUntil({&tap}, [&] { return seen.size() >= 6; }));
    const std::vector<Seen> expected {
        {keysym::shiftRight, Transition::pressed, modifier::shift},
        {keysym::controlRight, Transition::pressed, modifier::shift},
        {keysym::controlRight, Transition::released, modifier::shift | modifier::control},
        {keysym::shiftRight, Transition::released, modifier::shift},
        {keysym::controlRight, Transition::pressed, 0},
        {keysym::controlRight, Transition::released, modifier::control},
    };
    EXPECT_EQ(seen, expected);
    // a, Left Shift, b | space | c | a click and a wheel step while Right Ctrl is down.
    EXPECT_EQ(otherPresses, (std::vector<std::size_t> {0, 0, 0, 2, 4, 5, 5}));
    EXPECT_TRUE(timesAscend);
    EXPECT_FALSE(tap.isBroken());
}

TEST(KeyTap, ANewTapLearnsWhichWatchedKeysAreHeldSoTheirReleaseStillCounts)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::FakeKeyboard keyboard(server->displayName());
    std::vector<Seen> seen;
    auto record = [&](const KeyTapEvent& event) { seen.push_back({event.keysym, event.transition, event.modifiers}); };

    auto first = std::make_unique<KeyTap>(server->displayName(), triggerKeys, record);
    keyboard.press(keysym::shiftRight);
    ASSERT_TRUE(inputtests::pumpUntil({first.get()}, [&] { return seen.size() == 1; }));
    first.reset();

    KeyTap second(server->displayName(), triggerKeys, record);
    EXPECT_EQ(second.keysHeldAtStart(), std::vector<platform::input::Keysym> {keysym::shiftRight});
    EXPECT_EQ(second.keysDown(), std::vector<platform::input::Keysym> {keysym::shiftRight});
    EXPECT_EQ(second.modifierState() & modifier::shift, modifier::shift);
    // Auto-repeat of the held key after the restart is not a new press.
    keyboard.press(keysym::shiftRight);
    keyboard.release(keysym::shiftRight);
    ASSERT_TRUE(inputtests::pumpUntil({&second}, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen.back(), (Seen {keysym::shiftRight, Transition::released, modifier::shift}));
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(second.keysDown().empty());
}

TEST(KeyTap, RefusesAServerWithoutRecord)
{
    auto server = inputtests::startServer({.disabledExtensions = {"RECORD"}});
    ASSERT_TRUE(server);
    try {
        KeyTap tap(server->displayName(), triggerKeys, [](const KeyTapEvent&) {});
        ADD_FAILURE() << "a tap started without RECORD";
    } catch (const platform::input::InputError& error) {
        EXPECT_STREQ(error.what(), "the X server has no RECORD extension");
    }
}

TEST(CapsLockMonitor, FollowsTheLockFromItsInitialState)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::FakeKeyboard keyboard(server->displayName());
    std::vector<bool> changes;
    CapsLockMonitor monitor(server->displayName(), [&](bool isOn) { changes.push_back(isOn); });
    EXPECT_FALSE(monitor.isOn());

    keyboard.tap(keysym::capsLock);
    ASSERT_TRUE(inputtests::pumpUntil({&monitor}, [&] { return changes.size() == 1; }));
    EXPECT_TRUE(monitor.isOn());

    // Shift and other keys change the keyboard state too, but not the lock.
    keyboard.tap(keysym::shiftLeft);
    CapsLockMonitor later(server->displayName(), {});
    EXPECT_TRUE(later.isOn());

    keyboard.tap(keysym::capsLock);
    ASSERT_TRUE(inputtests::pumpUntil({&monitor, &later}, [&] { return changes.size() == 2 && !later.isOn(); }));
    EXPECT_EQ(changes, (std::vector<bool> {true, false}));
}

TEST(KeyTap, FollowsAWatchedKeyToItsNewKeycode)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::FakeKeyboard keyboard(server->displayName());
    std::vector<Seen> seen;
    KeyTap tap(server->displayName(), triggerKeys, [&](const KeyTapEvent& event) {
        seen.push_back({event.keysym, event.transition, event.modifiers});
    });
    const unsigned shiftKey = keyboard.keycodeOf(keysym::shiftRight);
    const unsigned qKey = keyboard.keycodeOf('q');
    KeySym shiftSymbols[] {keysym::shiftRight};
    KeySym qSymbols[] {'q', 'Q'};
    XChangeKeyboardMapping(keyboard.display(), static_cast<int>(qKey), 1, shiftSymbols, 1);
    XChangeKeyboardMapping(keyboard.display(), static_cast<int>(shiftKey), 2, qSymbols, 1);
    XSync(keyboard.display(), False);

    ASSERT_EQ(keyboard.keycodeOf(keysym::shiftRight), qKey);
    keyboard.tap(keysym::shiftRight);
    keyboard.tap(keysym::controlRight);
    ASSERT_TRUE(inputtests::pumpUntil({&tap}, [&] { return !seen.empty() && seen.back().keysym == keysym::controlRight
                                                            && seen.back().transition == Transition::released; }));
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].keysym, keysym::shiftRight);
    EXPECT_EQ(seen[1].keysym, keysym::shiftRight);
}

TEST(KeyTap, OutlivesItsXServerWithoutEndingTheProgram)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    KeyTap tap(server->displayName(), triggerKeys, [](const KeyTapEvent&) {});
    CapsLockMonitor monitor(server->displayName(), {});
    server.reset();
    tap.dispatch();
    monitor.dispatch();
    EXPECT_TRUE(tap.isBroken());
    EXPECT_TRUE(tap.keysDown().empty());
}
