#pragma once

#include <linux/input.h>

#include <memory>
#include <string>
#include <vector>

namespace platform::input {

// A virtual keyboard made through /dev/uinput: the kernel shows it to the desktop as one more
// keyboard, whose keys reach the window that has the focus. It types chords (Ctrl+V, Return).
// The device lives as long as the object; the desktop needs a moment to take up a new one, so it
// is made once and kept.
class UinputKeyboard {
public:
    // The device's name, by which the program's own key watcher knows to ignore it.
    static constexpr const char* deviceName = "Parlino virtual keyboard";

    // Where the device's set-up and events go: /dev/uinput in the program, a fake in tests.
    class DeviceFile {
    public:
        virtual ~DeviceFile() = default;
        // Declares the keys and creates the device; throws InputError when refused.
        virtual void create(const std::string& name, const std::vector<unsigned>& keys) = 0;
        // Throws InputError when the events cannot be written.
        virtual void write(const std::vector<input_event>& events) = 0;
    };

    // Throws InputError when `path` cannot be opened for writing.
    static std::unique_ptr<DeviceFile> openDeviceFile(const std::string& path = "/dev/uinput");
    // What keeps the program from making a virtual keyboard; empty when nothing does.
    static std::string missing(const std::string& path = "/dev/uinput");

    // Creates the device; throws InputError when it is refused.
    explicit UinputKeyboard(std::unique_ptr<DeviceFile> file);
    ~UinputKeyboard();
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    // Presses the keys in order and lets them go in reverse, each change its own frame.
    void tap(const std::vector<unsigned>& chord);
    void postPaste();
    void postReturn();

private:
    std::unique_ptr<DeviceFile> file_;
};

} // namespace platform::input
