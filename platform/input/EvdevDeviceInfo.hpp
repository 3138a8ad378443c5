#pragma once

#include <optional>
#include <set>
#include <string>

namespace platform::input {

// What the key watcher needs to know of an opened input device.
struct EvdevDeviceInfo {
    std::string name;
    bool isKeyboard = false;
    std::set<unsigned> keysDown;
    bool capsLockOn = false;

    // Asks the kernel about the device open on `fd` (through libevdev): a keyboard is a device with
    // the letter keys and Return. Nothing when `fd` is no input device.
    static std::optional<EvdevDeviceInfo> describe(int fd);
};

} // namespace platform::input
