#pragma once

#include "platform/input/EvdevDeviceInfo.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform::input {

// A listen-only watch on every keyboard under /dev/input (the kernel's evdev devices): the keys of
// all keyboards taken together, and Caps Lock. Devices that appear or vanish are followed; a
// keyboard that vanishes lets go of its keys. Devices are never grabbed, so every key still
// reaches the desktop undelayed. Single-threaded: call everything on one thread.
class EvdevKeyWatcher final {
public:
    using Describe = std::function<std::optional<EvdevDeviceInfo>(int fd)>;
    // Opens a device for reading, without blocking; -1 with errno set when it cannot.
    using Open = std::function<int(const std::filesystem::path& path)>;

    struct Options {
        std::filesystem::path directory = "/dev/input";
        Describe describe = &EvdevDeviceInfo::describe;
        Open open = &openForReading;
        // A device of this name is never watched: the program's own virtual keyboard.
        std::string ignoredName;
    };

    struct Handlers {
        // A key went down or up on the keyboards taken together: a key held on two keyboards goes
        // up when the last lets go, and auto-repeat is not reported. `modifiers` is the X modifier
        // state just before.
        std::function<void(unsigned code, bool pressed, unsigned modifiers)> onKey;
        std::function<void(bool isOn)> onCapsLock;
    };

    // Opens every keyboard that may be read. Throws InputError when the folder cannot be watched,
    // or when it holds devices that may not be read and no keyboard that may.
    EvdevKeyWatcher(Handlers handlers, Options options);
    ~EvdevKeyWatcher();
    EvdevKeyWatcher(const EvdevKeyWatcher&) = delete;
    EvdevKeyWatcher& operator=(const EvdevKeyWatcher&) = delete;

    // Readable when dispatch() has work: a device's events or a change in the folder.
    int fd() const { return epoll_; }
    void dispatch();

    static int openForReading(const std::filesystem::path& path);
    // What keeps the keyboards under `directory` from being watched; empty when nothing does.
    static std::string missing(const Options& options);

    std::set<unsigned> keysDown() const;
    // The X modifier state now, Caps Lock included.
    unsigned modifiers() const;
    bool isCapsLockOn() const { return capsLockOn_; }
    // The file names of the keyboards watched now (event3, ...).
    std::vector<std::string> keyboards() const;

private:
    struct Device {
        std::string fileName;
        int fd = -1;
        std::set<unsigned> down;
        std::vector<char> partial;
        // After the kernel dropped events, the rest of the frame is stale.
        bool dropping = false;
    };

    void closeAll();
    void scan(bool reportKeys);
    void tryOpen(const std::string& fileName, bool reportKeys);
    void remove(std::uint64_t id);
    void readDirectory();
    void readDevice(std::uint64_t id);
    void handleRecord(std::uint64_t id, std::uint16_t type, std::uint16_t code, std::int32_t value);
    void resync(Device& device);
    void press(Device& device, unsigned code, bool report);
    void release(Device& device, unsigned code);
    void setCapsLock(bool isOn);
    std::optional<std::uint64_t> idOf(const std::string& fileName) const;

    Handlers handlers_;
    Options options_;
    int epoll_ = -1;
    int inotify_ = -1;
    std::map<std::uint64_t, Device> devices_;
    std::uint64_t nextId_ = 1;
    std::set<std::string> unreadable_;
    std::map<unsigned, int> held_;
    bool capsLockOn_ = false;
};

} // namespace platform::input
