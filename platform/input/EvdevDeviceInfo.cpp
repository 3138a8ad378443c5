#include "platform/input/EvdevDeviceInfo.hpp"

#include <libevdev/libevdev.h>

#include <memory>

namespace platform::input {

std::optional<EvdevDeviceInfo> EvdevDeviceInfo::describe(int fd)
{
    libevdev* raw = nullptr;
    if (libevdev_new_from_fd(fd, &raw) < 0) {
        return std::nullopt;
    }
    const std::unique_ptr<libevdev, decltype(&libevdev_free)> device(raw, &libevdev_free);
    EvdevDeviceInfo info;
    const char* name = libevdev_get_name(device.get());
    info.name = name ? name : "";
    info.isKeyboard = libevdev_has_event_code(device.get(), EV_KEY, KEY_A)
                      && libevdev_has_event_code(device.get(), EV_KEY, KEY_Z)
                      && libevdev_has_event_code(device.get(), EV_KEY, KEY_ENTER);
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        if (libevdev_has_event_code(device.get(), EV_KEY, code) && libevdev_get_event_value(device.get(), EV_KEY, code) != 0) {
            info.keysDown.insert(code);
        }
    }
    info.capsLockOn = libevdev_has_event_code(device.get(), EV_LED, LED_CAPSL)
                      && libevdev_get_event_value(device.get(), EV_LED, LED_CAPSL) != 0;
    return info;
}

} // namespace platform::input
