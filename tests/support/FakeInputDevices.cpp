#include "support/FakeInputDevices.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

namespace testsupport {

FakeInputDevices::FakeInputDevices() = default;

FakeInputDevices::~FakeInputDevices()
{
    for (const auto& [name, fds] : writers_) {
        for (const int fd : fds) {
            ::close(fd);
        }
    }
}

platform::input::EvdevKeyWatcher::Options FakeInputDevices::options(std::string ignoredName)
{
    platform::input::EvdevKeyWatcher::Options options;
    options.directory = folder_.path();
    options.ignoredName = std::move(ignoredName);
    options.describe = [this](int fd) -> std::optional<platform::input::EvdevDeviceInfo> {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !readers_.count(status.st_ino)) {
            return std::nullopt;
        }
        const auto found = devices_.find(readers_.at(status.st_ino));
        if (found == devices_.end()) {
            return std::nullopt;
        }
        const Device& device = found->second;
        return platform::input::EvdevDeviceInfo {device.name, device.isKeyboard, device.keysDown, device.capsLockOn};
    };
    options.open = [this](const std::filesystem::path& path) {
        const std::string fileName = path.filename().string();
        if (refused_.count(fileName)) {
            errno = EACCES;
            return -1;
        }
        if (!devices_.count(fileName)) {
            errno = ENOENT;
            return -1;
        }
        int ends[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            return -1;
        }
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        struct stat status {};
        ::fstat(ends[0], &status);
        readers_[status.st_ino] = fileName;
        writers_[fileName].push_back(ends[1]);
        return ends[0];
    };
    return options;
}

std::string FakeInputDevices::plug()
{
    return plug(Device {});
}

std::string FakeInputDevices::plug(Device device)
{
    const std::string fileName = "event" + std::to_string(count_++);
    // Known before the node appears, since the watcher may open it as soon as it does.
    devices_[fileName] = std::move(device);
    std::ofstream(folder_ / fileName).flush();
    return fileName;
}

void FakeInputDevices::endStream(const std::string& fileName)
{
    const auto found = writers_.find(fileName);
    if (found == writers_.end()) {
        return;
    }
    for (const int fd : found->second) {
        ::close(fd);
    }
    writers_.erase(found);
    // A revoked device is not opened again.
    refused_.insert(fileName);
}

void FakeInputDevices::unplug(const std::string& fileName)
{
    endStream(fileName);
    refused_.erase(fileName);
    std::filesystem::remove(folder_ / fileName);
    devices_.erase(fileName);
}

void FakeInputDevices::refuse(const std::string& fileName)
{
    refused_.insert(fileName);
}

void FakeInputDevices::grant(const std::string& fileName)
{
    refused_.erase(fileName);
    ::chmod((folder_ / fileName).c_str(), 0660);
}

input_event FakeInputDevices::record(std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    input_event event {};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

void FakeInputDevices::sendBytes(const std::string& fileName, const void* bytes, std::size_t size)
{
    auto& fds = writers_[fileName];
    for (auto fd = fds.begin(); fd != fds.end();) {
        // A reader that closed its end (a probe that only looked) is dropped.
        if (::send(*fd, bytes, size, MSG_NOSIGNAL) != ssize_t(size)) {
            ::close(*fd);
            fd = fds.erase(fd);
        } else {
            ++fd;
        }
    }
}

void FakeInputDevices::send(const std::string& fileName, std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    const input_event event = record(type, code, value);
    sendBytes(fileName, &event, sizeof event);
    // The kernel's own record of the device, which the watcher reads when it opens or resyncs it.
    auto& device = devices_.at(fileName);
    if (type == EV_KEY && value == 1) {
        device.keysDown.insert(code);
    } else if (type == EV_KEY && value == 0) {
        device.keysDown.erase(code);
    } else if (type == EV_LED && code == LED_CAPSL) {
        device.capsLockOn = value != 0;
    }
}

void FakeInputDevices::key(const std::string& fileName, unsigned code, int value)
{
    send(fileName, EV_KEY, std::uint16_t(code), value);
    send(fileName, EV_SYN, SYN_REPORT, 0);
}

} // namespace testsupport
