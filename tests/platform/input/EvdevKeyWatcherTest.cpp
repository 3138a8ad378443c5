#include "platform/input/EvdevKeyWatcher.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/Keys.hpp"
#include "platform/input/UinputKeyboard.hpp"
#include "support/FakeInputDevices.hpp"

#include <gtest/gtest.h>

#include <linux/input.h>

#include <algorithm>
#include <string>
#include <vector>

using platform::input::EvdevKeyWatcher;
using platform::input::InputError;
using platform::input::UinputKeyboard;
using testsupport::FakeInputDevices;
namespace modifier = platform::input::modifier;

namespace {

// What the watcher reported, one line each: "+29 m0" (key 29 down, modifiers 0), "-29", "caps on".
struct Heard {
    std::vector<std::string> lines;

    EvdevKeyWatcher::Handlers handlers()
    {
        return {
            .onKey = [this](unsigned code, bool pressed, unsigned modifiers) {
                lines.push_back((pressed ? "+" : "-") + std::to_string(code) + (pressed ? " m" + std::to_string(modifiers) : ""));
            },
            .onCapsLock = [this](bool isOn) { lines.push_back(isOn ? "caps on" : "caps off"); },
        };
    }
    std::vector<std::string> take() { return std::exchange(lines, {}); }
};

using Lines = std::vector<std::string>;

} // namespace

TEST(EvdevKeyWatcher, ReportsTheKeyboardsTogetherWithoutRepeatsAndFollowsCapsLock)
{
    FakeInputDevices devices;
    const auto laptop = devices.plug({.name = "AT keyboard", .keysDown = {KEY_RIGHTCTRL}, .capsLockOn = true});
    const auto usb = devices.plug({.name = "USB keyboard"});
    devices.plug({.name = "Mouse", .isKeyboard = false});
    devices.plug({.name = UinputKeyboard::deviceName});
    Heard heard;
    EvdevKeyWatcher watcher(heard.handlers(), devices.options(UinputKeyboard::deviceName));
    EXPECT_EQ(watcher.keyboards(), (std::vector<std::string> {laptop, usb}));
    // What was down or lit at the start is known but not reported.
    EXPECT_EQ(watcher.keysDown(), (std::set<unsigned> {KEY_RIGHTCTRL}));
    EXPECT_TRUE(watcher.isCapsLockOn());
    EXPECT_EQ(watcher.modifiers(), modifier::control | modifier::lock);
    watcher.dispatch();
    EXPECT_TRUE(heard.take().empty());

    // Each device's stream is read as a whole, so the test lets the watcher read after each key.
    const auto key = [&](const std::string& device, unsigned code, int value) {
        devices.key(device, code, value);
        watcher.dispatch();
    };
    key(laptop, KEY_RIGHTCTRL, 0);
    key(usb, KEY_LEFTSHIFT, 1);
    key(usb, KEY_LEFTSHIFT, 2);     // auto-repeat
    key(usb, KEY_LEFTSHIFT, 2);
    key(laptop, KEY_RIGHTSHIFT, 1);
    key(laptop, KEY_RIGHTSHIFT, 1); // a second press without release changes nothing
    key(laptop, KEY_LEFTSHIFT, 1);  // the same key on two keyboards goes up with the last
    key(usb, KEY_LEFTSHIFT, 0);
    key(laptop, KEY_LEFTSHIFT, 0);
    key(laptop, KEY_RIGHTSHIFT, 0);
    watcher.dispatch();
    const unsigned lock = modifier::lock;
    EXPECT_EQ(heard.take(), (Lines {"-97", "+42 m" + std::to_string(lock), "+54 m" + std::to_string(lock | modifier::shift),
                                    "-42", "-54"}));

    // Caps Lock follows the key where no light is set, and the light where one is, once per change.
    key(usb, KEY_CAPSLOCK, 1);
    devices.send(usb, EV_LED, LED_CAPSL, 0);
    key(usb, KEY_CAPSLOCK, 0);
    key(usb, KEY_CAPSLOCK, 1);
    devices.send(laptop, EV_LED, LED_CAPSL, 1);
    watcher.dispatch();
    key(usb, KEY_CAPSLOCK, 0);
    watcher.dispatch();
    EXPECT_EQ(heard.take(), (Lines {"+58 m" + std::to_string(lock), "caps off", "-58", "+58 m0", "caps on", "-58"}));

    // A record split across two reads is put together; Alt and Super count as Mod1 and Mod4.
    const input_event alt = FakeInputDevices::record(EV_KEY, KEY_LEFTALT, 1);
    const auto* bytes = reinterpret_cast<const char*>(&alt);
    devices.sendBytes(usb, bytes, 10);
    watcher.dispatch();
    EXPECT_TRUE(heard.take().empty());
    devices.sendBytes(usb, bytes + 10, sizeof alt - 10);
    devices.key(usb, KEY_LEFTMETA, 1);
    watcher.dispatch();
    EXPECT_EQ(heard.take(), (Lines {"+56 m" + std::to_string(lock), "+125 m" + std::to_string(lock | modifier::mod1)}));

    // The kernel dropped events: the rest of that frame is ignored and the device's state read anew.
    devices.send(usb, EV_SYN, SYN_DROPPED, 0);
    devices.send(usb, EV_KEY, KEY_Z, 1);
    devices.send(usb, EV_SYN, SYN_REPORT, 0);
    devices.device(usb).keysDown = {KEY_LEFTALT, KEY_A};
    watcher.dispatch();
    EXPECT_EQ(heard.take(), (Lines {"-125", "+30 m" + std::to_string(lock | modifier::mod1), "caps off"}));
    EXPECT_EQ(watcher.keysDown(), (std::set<unsigned> {KEY_A, KEY_LEFTALT}));
}

TEST(EvdevKeyWatcher, FollowsKeyboardsThatComeAndGoAndLetsGoOfTheKeysOfOneThatVanishes)
{
    FakeInputDevices devices;
    Heard heard;
    // No keyboard yet is no obstacle: one plugged in later is followed.
    EXPECT_EQ(EvdevKeyWatcher::missing(devices.options()), "");
    EvdevKeyWatcher watcher(heard.handlers(), devices.options());
    EXPECT_TRUE(watcher.keyboards().empty());

    const auto usb = devices.plug({.name = "USB keyboard", .keysDown = {KEY_RIGHTSHIFT}});
    watcher.dispatch();
    EXPECT_EQ(watcher.keyboards(), (std::vector<std::string> {usb}));
    // A key already down on a keyboard plugged in later is a press.
    EXPECT_EQ(heard.take(), (Lines {"+54 m0"}));

    // Unplugged mid-hold: its keys go up; the stream's last records still count first.
    devices.key(usb, KEY_RIGHTCTRL, 1);
    devices.unplug(usb);
    watcher.dispatch();
    EXPECT_EQ(heard.take(), (Lines {"+97 m" + std::to_string(modifier::shift), "-54", "-97"}));
    EXPECT_TRUE(watcher.keyboards().empty());
    EXPECT_EQ(watcher.modifiers(), 0u);

    // A device revoked under the watcher (its stream ends, the node stays) is let go of as well.
    const auto laptop = devices.plug({.name = "AT keyboard"});
    watcher.dispatch();
    devices.key(laptop, KEY_RIGHTCTRL, 1);
    devices.endStream(laptop);
    watcher.dispatch();
    EXPECT_EQ(heard.take(), (Lines {"+97 m0", "-97"}));

    // A node that may be read only once udev has set its permissions is taken up then.
    const auto late = devices.plug({.name = "Bluetooth keyboard"});
    devices.refuse(late);
    watcher.dispatch();
    EXPECT_TRUE(watcher.keyboards().empty());
    devices.grant(late);
    watcher.dispatch();
    EXPECT_EQ(watcher.keyboards(), (std::vector<std::string> {late}));
    devices.key(late, KEY_A, 1);
    watcher.dispatch();
    EXPECT_EQ(heard.take(), (Lines {"+30 m0"}));
}

TEST(EvdevKeyWatcher, SaysWhenTheKeyboardsMayNotBeRead)
{
    FakeInputDevices devices;
    auto options = devices.options();
    options.directory = devices.path() / "absent";
    EXPECT_EQ(EvdevKeyWatcher::missing(options), "no " + options.directory.string() + " on this system");
    EXPECT_THROW(EvdevKeyWatcher({}, options), InputError);

    const auto keyboard = devices.plug();
    devices.plug({.name = "Mouse", .isKeyboard = false});
    devices.refuse(keyboard);
    const std::string notInGroup = "not in the input group: the keyboards under " + devices.path().string() + " cannot be read";
    EXPECT_EQ(EvdevKeyWatcher::missing(devices.options()), notInGroup);
    try {
        EvdevKeyWatcher watcher({}, devices.options());
        ADD_FAILURE() << "watched keyboards that may not be read";
    } catch (const InputError& error) {
        EXPECT_EQ(error.what(), notInGroup);
    }
    devices.grant(keyboard);
    EXPECT_EQ(EvdevKeyWatcher::missing(devices.options()), "");
    EXPECT_NO_THROW(EvdevKeyWatcher({}, devices.options()));
}

namespace {

// /dev/uinput as the test plays it: the device appears as a keyboard in the fake folder, and what
// the program types goes down its stream.
class FakeUinputFile final : public UinputKeyboard::DeviceFile {
public:
    FakeUinputFile(FakeInputDevices& devices, std::string* created, std::string refusal = {})
        : devices_(devices)
        , created_(created)
        , refusal_(std::move(refusal))
    {
    }
    void create(const std::string& name, const std::vector<unsigned>& keys) override
    {
        if (!refusal_.empty()) {
            throw InputError(refusal_);
        }
        FakeInputDevices::Device device;
        device.name = name;
        const auto has = [&keys](unsigned key) { return std::find(keys.begin(), keys.end(), key) != keys.end(); };
        device.isKeyboard = has(KEY_A) && has(KEY_Z) && has(KEY_ENTER);
        *created_ = devices_.plug(device);
    }
    void write(const std::vector<input_event>& events) override
    {
        devices_.sendBytes(*created_, events.data(), events.size() * sizeof(input_event));
    }

private:
    FakeInputDevices& devices_;
    std::string* created_;
    std::string refusal_;
};

} // namespace

TEST(UinputKeyboard, TypesChordsAsTheKernelWouldPassThemOnAndIsIgnoredByTheProgramsOwnWatcher)
{
    FakeInputDevices devices;
    Heard everything;
    Heard own;
    EvdevKeyWatcher watcher(everything.handlers(), devices.options());
    EvdevKeyWatcher ownWatcher(own.handlers(), devices.options(UinputKeyboard::deviceName));
    std::string node;
    UinputKeyboard keyboard(std::make_unique<FakeUinputFile>(devices, &node));
    watcher.dispatch();
    ownWatcher.dispatch();
    EXPECT_EQ(watcher.keyboards(), (std::vector<std::string> {node}));
    EXPECT_TRUE(ownWatcher.keyboards().empty());

    keyboard.postPaste();
    keyboard.postReturn();
    watcher.dispatch();
    ownWatcher.dispatch();
    EXPECT_EQ(everything.take(), (Lines {"+29 m0", "+47 m" + std::to_string(modifier::control), "-47", "-29", "+28 m0", "-28"}));
    EXPECT_TRUE(own.take().empty());

    EXPECT_THROW(UinputKeyboard(std::make_unique<FakeUinputFile>(devices, &node, "refused")), InputError);
    EXPECT_EQ(UinputKeyboard::missing((devices.path() / "uinput").string()), "no " + (devices.path() / "uinput").string() + " on this system");
    testsupport::writeFile(devices.path() / "uinput", "");
    EXPECT_EQ(UinputKeyboard::missing((devices.path() / "uinput").string()), "");
    EXPECT_THROW(UinputKeyboard::openDeviceFile((devices.path() / "none").string()), InputError);
}
