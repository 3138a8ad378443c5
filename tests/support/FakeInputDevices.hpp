#pragma once

#include "platform/input/EvdevKeyWatcher.hpp"
#include "support/TemporaryDirectory.hpp"

#include <linux/input.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A stand-in for /dev/input: each keyboard is a node in a folder, and opening it gives the reader
// its own end of a socket pair, as every reader of an evdev device gets its own copy of the events.
// The key watcher reads real input_event records from it. Unplugging ends every reader's stream
// (as an unplugged device answers ENODEV) and removes the node.
class FakeInputDevices {
public:
    struct Device {
        std::string name = "Test keyboard";
        bool isKeyboard = true;
        std::set<unsigned> keysDown {};
        bool capsLockOn = false;
    };

    FakeInputDevices();
    ~FakeInputDevices();
    FakeInputDevices(const FakeInputDevices&) = delete;
    FakeInputDevices& operator=(const FakeInputDevices&) = delete;

    // The watcher's options over this folder: devices described from `Device`, and opened unless refused.
    platform::input::EvdevKeyWatcher::Options options(std::string ignoredName = {});

    // Adds a node (event0, event1, ...) and returns its file name.
    std::string plug();
    std::string plug(Device device);
    void unplug(const std::string& fileName);
    // Every reader's stream ends while the node stays, and opening it fails (a revoked device).
    void endStream(const std::string& fileName);
    // Opening the node fails with EACCES from now on; `grant` lifts it and touches the node (IN_ATTRIB).
    void refuse(const std::string& fileName);
    void grant(const std::string& fileName);
    // What the device reports when asked: what was sent so far, unless the test changes it.
    Device& device(const std::string& fileName) { return devices_.at(fileName); }

    void send(const std::string& fileName, std::uint16_t type, std::uint16_t code, std::int32_t value);
    // A key change followed by its SYN_REPORT.
    void key(const std::string& fileName, unsigned code, int value);
    // Raw bytes, for records split across writes.
    void sendBytes(const std::string& fileName, const void* bytes, std::size_t size);
    static input_event record(std::uint16_t type, std::uint16_t code, std::int32_t value);

    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TemporaryDirectory folder_;
    int count_ = 0;
    std::map<std::string, Device> devices_;
    // Each reader's writing end, per node.
    std::map<std::string, std::vector<int>> writers_;
    // The socket each reader holds, by inode, to the node it opened.
    std::map<unsigned long, std::string> readers_;
    std::set<std::string> refused_;
};

} // namespace testsupport
