#include "app/dictation/InputBackends.hpp"
#include "app/dictation/support/DictationRoad.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <type_traits>

using namespace dictationtest;
using parlino::InputBackends;
namespace keysym = platform::input::keysym;
using Rank = InputBackends::Rank;

namespace {

// A desktop whose offers the test switches on and off: each backend is offered while its name is
// in `offered`, and made only when chosen.
struct Desktop {
    std::set<std::string> offered;
    std::map<std::string, int> made;

    template <typename Made, typename Fake>
    InputBackends::Backend<Made> backend(const std::string& name, int rank, std::function<std::unique_ptr<Fake>()> make = {})
    {
        return {name, rank,
                [this, name] { return offered.count(name) ? std::string {} : "no " + name; },
                [this, name, make]() -> std::unique_ptr<Made> {
                    ++made[name];
                    if constexpr (std::is_default_constructible_v<Fake>) {
                        if (!make) {
                            return std::make_unique<Fake>();
                        }
                    }
                    return make();
                },
                "grant " + name};
    }
};

// The Wayland session's backends, registered in an order unlike their ranks.
void registerWayland(InputBackends& backends, Desktop& desktop, parlino::Clock& clock)
{
    backends.addTyping(desktop.backend<parlino::PasteInput, FakePasteInput>(
        "uinput", Rank::uinput, [&clock] { return std::make_unique<FakePasteInput>(clock); }));
    backends.addTriggers(desktop.backend<parlino::TriggerInput, FakeTriggerInput>("GlobalShortcuts", Rank::globalShortcutsPortal));
    backends.addTyping(desktop.backend<parlino::PasteInput, FakePasteInput>(
        "RemoteDesktop", Rank::remoteDesktopPortal, [&clock] { return std::make_unique<FakePasteInput>(clock); }));
    backends.addTriggers(desktop.backend<parlino::TriggerInput, FakeTriggerInput>("evdev", Rank::evdev));
    backends.addTyping(desktop.backend<parlino::PasteInput, FakePasteInput>(
        "virtual keyboard", Rank::virtualKeyboard, [&clock] { return std::make_unique<FakePasteInput>(clock); }));
}

} // namespace

TEST(InputBackends, EachJobTakesTheFirstBackendTheDesktopOffersInRankOrder)
{
    ManualClock clock;
    const struct Case {
        std::set<std::string> offered;
        std::string triggers;
        std::string typing;
    } cases[] = {
        {{"evdev", "GlobalShortcuts", "virtual keyboard", "RemoteDesktop", "uinput"}, "evdev", "virtual keyboard"},
        {{"GlobalShortcuts", "RemoteDesktop", "uinput"}, "GlobalShortcuts", "RemoteDesktop"},   // GNOME without input group
        {{"evdev", "uinput"}, "evdev", "uinput"},
        {{}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.triggers + " / " + c.typing);
        Desktop desktop;
        desktop.offered = c.offered;
        InputBackends backends(InputBackends::Session::wayland);
        registerWayland(backends, desktop, clock);
        EXPECT_EQ(backends.triggersName(), c.triggers);
        EXPECT_EQ(backends.typingName(), c.typing);
        // Only the chosen ones are made, once however often they are asked for.
        backends.triggers().missing();
        backends.typing().heldModifiers();
        int made = 0;
        for (const auto& [name, count] : desktop.made) {
            EXPECT_EQ(count, 1) << name;
            made += count;
        }
        EXPECT_EQ(made, int(!c.triggers.empty()) + int(!c.typing.empty()));
    }

    // Nothing offered: every job says what each backend lacks, in rank order, and refuses its work
    // with that reason; the clipboard stand-in still keeps the transcript.
    Desktop desktop;
    InputBackends backends(InputBackends::Session::wayland);
    registerWayland(backends, desktop, clock);
    EXPECT_EQ(backends.triggersMissing(), "evdev: no evdev; GlobalShortcuts: no GlobalShortcuts");
    EXPECT_EQ(backends.howToGrant(), "grant evdev Or: grant GlobalShortcuts");
    EXPECT_THROW(backends.triggers().startTap({}), std::exception);
    EXPECT_FALSE(backends.triggers().isTapRunning());
    try {
        backends.typing().postPaste();
        ADD_FAILURE() << "typed with no keyboard backend";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "virtual keyboard: no virtual keyboard; RemoteDesktop: no RemoteDesktop; uinput: no uinput");
    }
    EXPECT_THROW(backends.hotkey().grab(keysym::space, 0), std::exception);
    backends.clipboard().replaceText(QStringLiteral("kept"));
    EXPECT_EQ(backends.clipboard().text(), QStringLiteral("kept"));

    // A backend that is offered but cannot be made gives way to the next one, with its reason.
    InputBackends failing(InputBackends::Session::wayland);
    failing.addTriggers({"evdev", Rank::evdev, {}, []() -> std::unique_ptr<parlino::TriggerInput> {
                             throw std::runtime_error("no keyboard under /dev/input");
                         }, {}});
    EXPECT_EQ(failing.triggersMissing(), "evdev: no keyboard under /dev/input");
    failing.addTriggers(desktop.backend<parlino::TriggerInput, FakeTriggerInput>("GlobalShortcuts", Rank::globalShortcutsPortal));
    desktop.offered = {"GlobalShortcuts"};
    EXPECT_EQ(failing.triggersName(), "GlobalShortcuts");

    // An X11 session tells the user what the X11 backends need.
    InputBackends x11(InputBackends::Session::x11);
    EXPECT_EQ(x11.howToGrant(), parlino::TriggerInput::x11Grant);
}

TEST(InputBackends, SessionFollowsWaylandDisplay)
{
    const char* before = std::getenv("WAYLAND_DISPLAY");
    const std::string saved = before ? before : "";
    ::setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    EXPECT_EQ(InputBackends::sessionFromEnvironment(), InputBackends::Session::wayland);
    ::setenv("WAYLAND_DISPLAY", "", 1);
    EXPECT_EQ(InputBackends::sessionFromEnvironment(), InputBackends::Session::x11);
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(InputBackends::sessionFromEnvironment(), InputBackends::Session::x11);
    if (before) {
        ::setenv("WAYLAND_DISPLAY", saved.c_str(), 1);
    }
}

// The user grants what was missing while the program runs: the push-to-talk manager's poll finds
// the backend offered, the stand-in chooses it, and the triggers work without a restart; the
// hotkey stand-in hands its handler to the backend chosen after it was set.
TEST(InputBackends, APermissionGrantedWhileRunningIsTakenUpByThePoll)
{
    DictationRoad road;
    Desktop desktop;
    FakeTriggerInput* keyboard = nullptr;
    FakeHotkeyInput* hotkeys = nullptr;
    InputBackends backends(InputBackends::Session::wayland);
    backends.addTriggers(desktop.backend<parlino::TriggerInput, FakeTriggerInput>("evdev", Rank::evdev, [&keyboard] {
        auto made = std::make_unique<FakeTriggerInput>();
        keyboard = made.get();
        return made;
    }));
    backends.addHotkey(desktop.backend<parlino::HotkeyInput, FakeHotkeyInput>("evdev", Rank::evdev, [&hotkeys] {
        auto made = std::make_unique<FakeHotkeyInput>();
        hotkeys = made.get();
        return made;
    }));

    parlino::GlobeDictationManager manager({road.defaults, road.recorder, road.library, road.helper, backends.triggers(),
                                            road.clock, [&road](const QString& line) { road.log << line; }});
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    EXPECT_EQ(manager.missingPermissionText(), QStringLiteral("evdev: no evdev"));
    manager.requestAccessibilityPermission();
    EXPECT_TRUE(road.log.contains(QStringLiteral("   grant evdev")));

    int hotkeyPresses = 0;
    backends.hotkey().setOnPressed([&hotkeyPresses] { ++hotkeyPresses; });

    desktop.offered = {"evdev"};
    road.advance(1500);
    EXPECT_FALSE(manager.needsAccessibilityPermission());
    ASSERT_NE(keyboard, nullptr);
    EXPECT_TRUE(manager.isEventTapRunning());
    keyboard->press(keysym::controlRight);
    road.advance(700);
    EXPECT_EQ(road.recorder.startCalls, 1);

    backends.hotkey().grab(keysym::space, platform::input::modifier::mod1);
    ASSERT_NE(hotkeys, nullptr);
    hotkeys->press({keysym::space, platform::input::modifier::mod1});
    EXPECT_EQ(hotkeyPresses, 1);
}
