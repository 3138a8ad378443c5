#include "app/dictation/GlobalHotkeyManager.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/support/FakeInputs.hpp"
#include "platform/input/KeyCodeMapping.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

using namespace dictationtest;
using parlino::GlobalHotkeyManager;
namespace SettingsKeys = parlino::SettingsKeys;
namespace flag = platform::input::modifierFlag;
namespace modifier = platform::input::modifier;
namespace keysym = platform::input::keysym;

namespace {

constexpr std::uint32_t controlOption = flag::control | flag::option;
constexpr std::uint16_t spaceKey = 49;

struct HotkeyRoad {
    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder / "parlino.conf"};
    FakeHotkeyInput input;
    QStringList log;

    std::unique_ptr<GlobalHotkeyManager> create()
    {
        return std::make_unique<GlobalHotkeyManager>(
            GlobalHotkeyManager::Dependencies {defaults, input, [this](const QString& line) { log << line; }});
    }
};

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

} // namespace

TEST(GlobalHotkeyManager, ARegisteredHotkeyIsStoredShownPressedAndRegisteredAgainAtTheNextStart)
{
    HotkeyRoad road;
    auto manager = road.create();
    EXPECT_FALSE(road.input.grabbed);
    int presses = 0;
    manager->setOnHotkeyPressed([&] { ++presses; });

    ASSERT_TRUE(manager->registerHotkey(controlOption, spaceKey));
    EXPECT_EQ(road.defaults.integerValue(key(SettingsKeys::globalHotkeyModifiers)), 0x0C0000);
    EXPECT_EQ(road.defaults.integerValue(key(SettingsKeys::globalHotkeyKeyCode)), 49);
    EXPECT_EQ(manager->currentShortcut(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_TRUE(manager->isHotkeyEnabled());
    EXPECT_EQ(road.input.grabbed, (FakeHotkeyInput::Combination {keysym::space, modifier::control | modifier::mod1}));
    EXPECT_EQ(road.log.back(), QStringLiteral("✅ Global hotkey registered: Ctrl+Alt+Space"));

    // The action runs after the desktop's dispatch has returned.
    road.input.press(*road.input.grabbed);
    EXPECT_EQ(presses, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(presses, 1);

    manager.reset();
    EXPECT_FALSE(road.input.grabbed);
    EXPECT_EQ(road.log.back(), QStringLiteral("🗑️ Hotkey unregistered"));
    auto restarted = road.create();
    EXPECT_TRUE(restarted->isHotkeyEnabled());
    EXPECT_EQ(restarted->currentShortcut(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_TRUE(road.input.grabbed);

    // Stored values that are no key code or modifier mask are ignored.
    restarted.reset();
    road.defaults.setInteger(key(SettingsKeys::globalHotkeyKeyCode), 70000);
    EXPECT_FALSE(road.create()->isHotkeyEnabled());
    road.defaults.setString(key(SettingsKeys::globalHotkeyKeyCode), QStringLiteral("space"));
    EXPECT_FALSE(road.create()->isHotkeyEnabled());
}

TEST(GlobalHotkeyManager, ARefusedCombinationLeavesTheFormerOneGrabbedAndShown)
{
    HotkeyRoad road;
    auto manager = road.create();
    ASSERT_TRUE(manager->registerHotkey(controlOption, spaceKey));
    const auto former = road.input.grabbed;
    road.input.taken.push_back({'k', modifier::control | modifier::shift});

    EXPECT_FALSE(manager->registerHotkey(flag::control | flag::shift, 40));
    EXPECT_EQ(road.log.back(), QStringLiteral("❌ Failed to register hotkey: the key combination is already taken by another program"));
    EXPECT_EQ(road.input.grabbed, former);
    EXPECT_TRUE(manager->isHotkeyEnabled());
    EXPECT_EQ(manager->currentShortcut(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_EQ(road.defaults.integerValue(key(SettingsKeys::globalHotkeyKeyCode)), 49);

    // A key code with no key on a PC keyboard would grab every key: refused before the desktop sees it.
    EXPECT_FALSE(manager->registerHotkey(controlOption, 52));
    EXPECT_EQ(road.input.grabbed, former);
    EXPECT_TRUE(road.log.back().startsWith(QStringLiteral("❌ Failed to register hotkey: "))) << road.log.back().toStdString();

    // Paused for the shortcut field: let go, not called active, and taken back on resume.
    QSignalSpy enabled(manager.get(), &parlino::GlobalHotkeyService::isHotkeyEnabledChanged);
    manager->pauseHotkey();
    EXPECT_FALSE(road.input.grabbed);
    EXPECT_FALSE(manager->isHotkeyEnabled());
    EXPECT_EQ(manager->currentShortcut(), QStringLiteral("Ctrl+Alt+Space"));
    manager->resumeHotkey();
    EXPECT_EQ(road.input.grabbed, former);
    EXPECT_TRUE(manager->isHotkeyEnabled());
    EXPECT_EQ(enabled.count(), 2);

    // Registering while paused: a refusal brings the former one back.
    manager->pauseHotkey();
    EXPECT_FALSE(manager->registerHotkey(flag::control | flag::shift, 40));
    EXPECT_EQ(road.input.grabbed, former);
    EXPECT_TRUE(manager->isHotkeyEnabled());
    ASSERT_TRUE(manager->registerHotkey(flag::command | flag::shift, 18));
    EXPECT_EQ(manager->currentShortcut(), QStringLiteral("Shift+Super+Key 18"));
    manager->resumeHotkey();
    EXPECT_EQ(road.input.grabbed, (FakeHotkeyInput::Combination {'1', modifier::mod4 | modifier::shift}));
}

TEST(GlobalHotkeyManager, UnregisterAndClear)
{
    HotkeyRoad road;
    auto manager = road.create();
    manager->unregisterHotkey();
    EXPECT_TRUE(road.log.isEmpty()) << "nothing registered: nothing to say";
    manager->clearHotkey();
    EXPECT_EQ(road.log, QStringList {QStringLiteral("🧹 Hotkey cleared from settings")});

    ASSERT_TRUE(manager->registerHotkey(controlOption, 40));
    manager->unregisterHotkey();
    EXPECT_FALSE(road.input.grabbed);
    EXPECT_FALSE(manager->isHotkeyEnabled());
    EXPECT_EQ(manager->currentShortcut(), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_TRUE(road.defaults.contains(key(SettingsKeys::globalHotkeyKeyCode)));
    manager->clearHotkey();
    EXPECT_EQ(manager->currentShortcut(), QString());
    EXPECT_FALSE(road.defaults.contains(key(SettingsKeys::globalHotkeyModifiers)));
    EXPECT_FALSE(road.defaults.contains(key(SettingsKeys::globalHotkeyKeyCode)));
}

TEST(GlobalHotkeyManager, NamesAndSystemShortcuts)
{
    EXPECT_EQ(GlobalHotkeyManager::shortcutDescription(flag::command | flag::option | flag::control | flag::shift, 123),
              QStringLiteral("Ctrl+Alt+Shift+Super+←"));
    EXPECT_EQ(GlobalHotkeyManager::shortcutDescription(flag::control | flag::function, 122), QStringLiteral("Ctrl+Key 122"));
    EXPECT_EQ(GlobalHotkeyManager::keyName(51), QStringLiteral("Delete"));
    EXPECT_FALSE(GlobalHotkeyManager::keyName(18));
    EXPECT_TRUE(GlobalHotkeyManager::isSystemShortcut(flag::command, 12));
    EXPECT_TRUE(GlobalHotkeyManager::isSystemShortcut(flag::command, 49));
    EXPECT_FALSE(GlobalHotkeyManager::isSystemShortcut(flag::command | flag::shift, 12));
    EXPECT_FALSE(GlobalHotkeyManager::isSystemShortcut(flag::control, 12));
}
