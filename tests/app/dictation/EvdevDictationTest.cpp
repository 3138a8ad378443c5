#include "app/dictation/DictationHelper.hpp"
#include "app/dictation/EvdevHotkeyInput.hpp"
#include "app/dictation/EvdevTriggerInput.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/UinputPasteInput.hpp"
#include "app/dictation/WaylandFrontWindow.hpp"
#include "app/dictation/support/DictationRoad.hpp"
#include "platform/input/InputError.hpp"
#include "support/FakeInputDevices.hpp"

#include <gtest/gtest.h>

#include <linux/input.h>

using namespace dictationtest;
using parlino::EvdevTriggerInput;
using parlino::GlobeDictationManager;
using parlino::WaylandFrontWindow;
using testsupport::FakeInputDevices;
namespace SettingsKeys = parlino::SettingsKeys;
namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;

namespace {

// The push-to-talk road over the real evdev trigger input, reading the fake folder's keyboards.
struct EvdevRoad {
    DictationRoad road;
    FakeInputDevices devices;
    std::string keyboard = devices.plug({.name = "AT keyboard"});
    EvdevTriggerInput input {devices.options(platform::input::UinputKeyboard::deviceName)};
    std::unique_ptr<GlobeDictationManager> manager;

    GlobeDictationManager& create()
    {
        manager = std::make_unique<GlobeDictationManager>(GlobeDictationManager::Dependencies {
            road.defaults, road.recorder, road.library, road.helper, input, road.clock,
            [this](const QString& line) { road.log << line; }});
        return *manager;
    }
    // A key on `device` reaches the program, as the event loop would hand it over.
    void key(unsigned code, int value) { key(keyboard, code, value); }
    void key(const std::string& device, unsigned code, int value)
    {
        devices.key(device, code, value);
        input.dispatch();
        road.settle();
    }
};

} // namespace

TEST(EvdevTriggerInput, TheThreeTriggersWorkFromTheKeyboardsWithTheirThresholds)
{
    EvdevRoad evdev;
    evdev.road.defaults.setBool(QString::fromLatin1(SettingsKeys::dictationRightShiftEnabled), true);
    auto& manager = evdev.create();
    auto& road = evdev.road;
    EXPECT_TRUE(manager.isEventTapRunning());
    EXPECT_TRUE(road.log.contains(QStringLiteral("🎙️ Push-to-talk: evdev key watch ACTIVE")));

    // Right Ctrl held 0.7 s starts; auto-repeat while it is held changes nothing; release stops.
    evdev.key(KEY_RIGHTCTRL, 1);
    road.advance(400);
    evdev.key(KEY_RIGHTCTRL, 2);
    evdev.key(KEY_RIGHTCTRL, 2);
    road.advance(299);
    EXPECT_EQ(road.recorder.startCalls, 0);
    road.advance(1);
    EXPECT_EQ(road.recorder.startCalls, 1);
    evdev.key(KEY_RIGHTCTRL, 2);
    road.advance(1000);
    evdev.key(KEY_RIGHTCTRL, 0);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QStringLiteral("held"));
    ASSERT_EQ(road.helper.pastes, std::vector {QStringLiteral("held")});
    // No window of ours had the focus: the paste goes to the other one.
    ASSERT_TRUE(road.helper.targets.back());
    EXPECT_EQ(road.helper.targets.back()->window, WaylandFrontWindow::anotherWindow);
    road.advance(1500);

    // Held with Left Shift (part of a shortcut), or chorded with another key before its threshold:
    // no dictation.
    evdev.key(KEY_LEFTSHIFT, 1);
    evdev.key(KEY_RIGHTCTRL, 1);
    road.advance(1000);
    evdev.key(KEY_RIGHTCTRL, 0);
    evdev.key(KEY_LEFTSHIFT, 0);
    evdev.key(KEY_RIGHTCTRL, 1);
    road.advance(300);
    evdev.key(KEY_C, 1);
    evdev.key(KEY_C, 0);
    road.advance(1000);
    evdev.key(KEY_RIGHTCTRL, 0);
    EXPECT_EQ(road.recorder.startCalls, 1);

    // Right Shift starts after 0.3 s.
    evdev.key(KEY_RIGHTSHIFT, 1);
    road.advance(299);
    EXPECT_EQ(road.recorder.startCalls, 1);
    road.advance(1);
    EXPECT_EQ(road.recorder.startCalls, 2);
    road.advance(700);
    evdev.key(KEY_RIGHTSHIFT, 0);
    EXPECT_EQ(road.recorder.stopCalls, 2);
    road.transcribe(QStringLiteral("shifted"));
    road.advance(1500);

    // Caps Lock turning on starts, turning off stops, on whichever keyboard.
    const auto usb = evdev.devices.plug({.name = "USB keyboard"});
    evdev.input.dispatch();
    evdev.key(usb, KEY_CAPSLOCK, 1);
    evdev.key(usb, KEY_CAPSLOCK, 0);
    EXPECT_EQ(road.recorder.startCalls, 3);
    evdev.key(KEY_CAPSLOCK, 1);
    evdev.key(KEY_CAPSLOCK, 0);
    EXPECT_EQ(road.recorder.stopCalls, 3);
    road.transcribe(QStringLiteral("locked"));
    EXPECT_EQ(road.helper.pastes.size(), 3u);
}

TEST(EvdevTriggerInput, AKeyboardThatVanishesMidHoldStopsItsDictationAndARevokedOneSaysSo)
{
    EvdevRoad evdev;
    auto& manager = evdev.create();
    auto& road = evdev.road;
    const auto usb = evdev.devices.plug({.name = "USB keyboard"});
    evdev.input.dispatch();

    evdev.key(usb, KEY_RIGHTCTRL, 1);
    road.advance(900);
    EXPECT_EQ(road.recorder.startCalls, 1);
    evdev.devices.unplug(usb);
    evdev.input.dispatch();
    road.settle();
    EXPECT_EQ(road.recorder.stopCalls, 1);
    EXPECT_FALSE(manager.isTriggerHeld(DictationRoad::Trigger::globe));
    road.transcribe(QStringLiteral("kept"));
    EXPECT_EQ(road.helper.pastes, std::vector {QStringLiteral("kept")});
    // The other keyboard still serves.
    EXPECT_TRUE(manager.isEventTapRunning());
    road.advance(1500);
    evdev.key(KEY_CAPSLOCK, 1);
    EXPECT_EQ(road.recorder.startCalls, 2);

    // Access to the last keyboard revoked mid-dictation: the dictation a held key started stops,
    // the watch ends, and the manager says why.
    evdev.key(KEY_CAPSLOCK, 0);
    evdev.key(KEY_CAPSLOCK, 1);
    evdev.key(KEY_CAPSLOCK, 0);
    EXPECT_EQ(road.recorder.stopCalls, 2);
    road.transcribe(QStringLiteral("second"));
    road.advance(1500);
    evdev.key(KEY_RIGHTCTRL, 1);
    road.advance(700);
    EXPECT_EQ(road.recorder.startCalls, 3);
    evdev.devices.endStream(evdev.keyboard);
    evdev.input.dispatch();
    road.settle();
    EXPECT_EQ(road.recorder.stopCalls, 3);
    EXPECT_FALSE(manager.isEventTapRunning());
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    EXPECT_TRUE(manager.missingPermissionText().startsWith(QStringLiteral("not in the input group")));

    // Granted again: the poll takes the keyboards up.
    manager.requestAccessibilityPermission();
    EXPECT_TRUE(road.log.contains(QString::fromLatin1("   ") + QString::fromLatin1(EvdevTriggerInput::grant)));
    evdev.devices.grant(evdev.keyboard);
    road.advance(1500);
    EXPECT_TRUE(manager.isEventTapRunning());
    EXPECT_FALSE(manager.needsAccessibilityPermission());
}

TEST(EvdevHotkeyInput, TheCombinationPressedOnAnyKeyboardIsTheHotkey)
{
    FakeInputDevices devices;
    const auto keyboard = devices.plug();
    parlino::EvdevHotkeyInput hotkey(devices.options());
    int presses = 0;
    hotkey.setOnPressed([&presses] { ++presses; });
    const auto key = [&](unsigned code, int value) {
        devices.key(keyboard, code, value);
        hotkey.dispatch();
    };

    EXPECT_THROW(hotkey.grab(0x1008ff2f /* a sleep key no keyboard map places */, 0), platform::input::InputError);
    hotkey.grab('D', modifier::mod1 | modifier::shift);
    key(KEY_D, 1);                       // D alone
    key(KEY_D, 0);
    key(KEY_LEFTALT, 1);
    key(KEY_LEFTSHIFT, 1);
    key(KEY_D, 1);
    key(KEY_D, 2);                       // auto-repeat is no second press
    key(KEY_D, 0);
    key(KEY_LEFTCTRL, 1);                // one modifier too many
    key(KEY_D, 1);
    key(KEY_D, 0);
    key(KEY_LEFTCTRL, 0);
    EXPECT_EQ(presses, 1);
    // Caps Lock lit does not hide the combination.
    key(KEY_CAPSLOCK, 1);
    key(KEY_CAPSLOCK, 0);
    key(KEY_D, 1);
    key(KEY_D, 0);
    EXPECT_EQ(presses, 2);
    hotkey.ungrab();
    key(KEY_D, 1);
    key(KEY_D, 0);
    EXPECT_EQ(presses, 2);

    FakeInputDevices refused;
    refused.refuse(refused.plug());
    parlino::EvdevHotkeyInput unreadable(refused.options());
    EXPECT_THROW(unreadable.grab('D', 0), platform::input::InputError);
}

namespace {

class FakeUinputFile final : public platform::input::UinputKeyboard::DeviceFile {
public:
    explicit FakeUinputFile(FakeInputDevices& devices) : devices_(devices) {}
    void create(const std::string& name, const std::vector<unsigned>&) override { node = devices_.plug({.name = name}); }
    void write(const std::vector<input_event>& events) override
    {
        devices_.sendBytes(node, events.data(), events.size() * sizeof(input_event));
    }
    std::string node;

private:
    FakeInputDevices& devices_;
};

} // namespace

// The paste road over the uinput keyboard: the transcript goes on the clipboard, Ctrl+V and Return
// go down the virtual keyboard once the user has let go of the modifiers held on the real one.
TEST(UinputPasteInput, PastesIntoTheWindowInFrontOnceTheUsersModifiersAreUp)
{
    DictationRoad road;
    FakeInputDevices devices;
    const auto keyboard = devices.plug({.name = "AT keyboard"});
    auto file = std::make_unique<FakeUinputFile>(devices);
    FakeUinputFile& uinput = *file;
    parlino::UinputPasteInput paste(std::make_unique<platform::input::UinputKeyboard>(std::move(file)),
                                    devices.options(platform::input::UinputKeyboard::deviceName));
    // What reaches the desktop from the virtual keyboard.
    std::vector<std::string> typed;
    platform::input::EvdevKeyWatcher desktop(
        {.onKey = [&typed](unsigned code, bool pressed, unsigned) { typed.push_back((pressed ? "+" : "-") + std::to_string(code)); },
         .onCapsLock = {}},
        devices.options());
    road.defaults.setBool(QString::fromLatin1(SettingsKeys::autoEnterAfterPaste), true);
    FakeSoundPlayer sounds;
    class MemoryClipboard final : public parlino::Clipboard {
    public:
        void clearContents() override { text_.clear(); }
        void setText(const QString& text) override { text_ = text; }
        QString text() const override { return text_; }

    private:
        QString text_;
    } clipboard;
    parlino::DictationHelper helper({road.defaults, clipboard, paste, sounds, road.clock, [&road](const QString& line) { road.log << line; }});

    devices.key(keyboard, KEY_LEFTSHIFT, 1);
    desktop.dispatch();
    helper.pasteIntoApplication(QStringLiteral("typed through uinput"), WaylandFrontWindow::current());
    EXPECT_EQ(clipboard.text(), QStringLiteral("typed through uinput"));
    road.advance(500);
    road.advance(500);
    desktop.dispatch();
    EXPECT_EQ(typed, std::vector<std::string> {"+42"}) << "Shift is held on the real keyboard";
    devices.key(keyboard, KEY_LEFTSHIFT, 0);
    desktop.dispatch();
    road.advance(50);
    road.advance(150);
    road.advance(50);
    desktop.dispatch();
    EXPECT_EQ(typed, (std::vector<std::string> {"+42", "-42", "+29", "+47", "-47", "-29", "+28", "-28"}));
    EXPECT_FALSE(uinput.node.empty());
}
