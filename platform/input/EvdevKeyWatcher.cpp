#include "platform/input/EvdevKeyWatcher.hpp"

#include "platform/input/EvdevKeyCodes.hpp"
#include "platform/input/InputError.hpp"

#include <linux/input.h>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace platform::input {

namespace {

// The epoll key of the folder's change notices; devices count up from 1.
constexpr std::uint64_t directoryId = 0;

bool isEventDevice(const std::string& fileName)
{
    return fileName.rfind("event", 0) == 0;
}

std::string folderText(const std::filesystem::path& directory)
{
    return "the keyboards under " + directory.string();
}

} // namespace

EvdevKeyWatcher::EvdevKeyWatcher(Handlers handlers, Options options)
    : handlers_(std::move(handlers))
    , options_(std::move(options))
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (epoll_ < 0 || inotify_ < 0) {
        const std::string reason = std::strerror(errno);
        closeAll();
        throw InputError(folderText(options_.directory) + " cannot be watched: " + reason);
    }
    if (::inotify_add_watch(inotify_, options_.directory.c_str(),
                            IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
        const std::string reason = std::strerror(errno);
        closeAll();
        throw InputError(folderText(options_.directory) + " cannot be watched: " + reason);
    }
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.u64 = directoryId;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, inotify_, &event);
    scan(false);
    if (devices_.empty() && !unreadable_.empty()) {
        closeAll();
        throw InputError("not in the input group: " + folderText(options_.directory) + " cannot be read");
    }
}

EvdevKeyWatcher::~EvdevKeyWatcher()
{
    closeAll();
}

void EvdevKeyWatcher::closeAll()
{
    for (auto& [id, device] : devices_) {
        ::close(device.fd);
    }
    devices_.clear();
    if (inotify_ >= 0) {
        ::close(inotify_);
        inotify_ = -1;
    }
    if (epoll_ >= 0) {
        ::close(epoll_);
        epoll_ = -1;
    }
}

int EvdevKeyWatcher::openForReading(const std::filesystem::path& path)
{
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

std::string EvdevKeyWatcher::missing(const Options& options)
{
    std::error_code error;
    if (!std::filesystem::is_directory(options.directory, error)) {
        return "no " + options.directory.string() + " on this system";
    }
    bool unreadable = false;
    for (const auto& entry : std::filesystem::directory_iterator(options.directory, error)) {
        if (!isEventDevice(entry.path().filename().string())) {
            continue;
        }
        const int fd = options.open(entry.path());
        if (fd < 0) {
            unreadable = unreadable || errno == EACCES || errno == EPERM;
            continue;
        }
        const auto info = options.describe(fd);
        ::close(fd);
        if (info && info->isKeyboard) {
            return {};
        }
    }
    // A folder without keyboards is no obstacle: one plugged in later is followed.
    return unreadable ? "not in the input group: " + folderText(options.directory) + " cannot be read" : std::string {};
}

void EvdevKeyWatcher::scan(bool reportKeys)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(options_.directory, error)) {
        const std::string fileName = entry.path().filename().string();
        if (isEventDevice(fileName)) {
            tryOpen(fileName, reportKeys);
        }
    }
}

std::optional<std::uint64_t> EvdevKeyWatcher::idOf(const std::string& fileName) const
{
    for (const auto& [id, device] : devices_) {
        if (device.fileName == fileName) {
            return id;
        }
    }
    return std::nullopt;
}

void EvdevKeyWatcher::tryOpen(const std::string& fileName, bool reportKeys)
{
    if (idOf(fileName)) {
        return;
    }
    const auto path = options_.directory / fileName;
    const int fd = options_.open(path);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            unreadable_.insert(fileName);
        }
        return;
    }
    unreadable_.erase(fileName);
    const auto info = options_.describe(fd);
    if (!info || !info->isKeyboard || (!options_.ignoredName.empty() && info->name == options_.ignoredName)) {
        ::close(fd);
        return;
    }
    const std::uint64_t id = nextId_++;
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.u64 = id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) < 0) {
        ::close(fd);
        return;
    }
    Device& device = devices_[id];
    device.fileName = fileName;
    device.fd = fd;
    for (const unsigned code : info->keysDown) {
        press(device, code, reportKeys);
    }
    if (!reportKeys && info->capsLockOn) {
        capsLockOn_ = true;
    }
}

void EvdevKeyWatcher::remove(std::uint64_t id)
{
    const auto found = devices_.find(id);
    if (found == devices_.end()) {
        return;
    }
    Device device = std::move(found->second);
    devices_.erase(found);
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, device.fd, nullptr);
    ::close(device.fd);
    // An unplugged keyboard's keys are up: a hold on it ends here.
    for (const unsigned code : std::set<unsigned>(device.down)) {
        release(device, code);
    }
}

void EvdevKeyWatcher::dispatch()
{
    std::array<epoll_event, 16> ready {};
    for (;;) {
        const int count = ::epoll_wait(epoll_, ready.data(), int(ready.size()), 0);
        if (count <= 0) {
            return;
        }
        for (int index = 0; index < count; ++index) {
            const std::uint64_t id = ready[std::size_t(index)].data.u64;
            if (id == directoryId) {
                readDirectory();
            } else {
                readDevice(id);
            }
        }
    }
}

void EvdevKeyWatcher::readDirectory()
{
    alignas(inotify_event) std::array<char, 4096> buffer {};
    for (;;) {
        const ssize_t length = ::read(inotify_, buffer.data(), buffer.size());
        if (length <= 0) {
            return;
        }
        for (ssize_t offset = 0; offset < length;) {
            inotify_event notice {};
            std::memcpy(&notice, buffer.data() + offset, sizeof notice);
            const std::string fileName = notice.len ? std::string(buffer.data() + offset + sizeof notice) : std::string {};
            offset += ssize_t(sizeof notice + notice.len);
            if (notice.mask & IN_Q_OVERFLOW) {
                scan(true);
                continue;
            }
            if (!isEventDevice(fileName)) {
                continue;
            }
            if (notice.mask & (IN_DELETE | IN_MOVED_FROM)) {
                unreadable_.erase(fileName);
                if (const auto id = idOf(fileName)) {
                    // What it sent before it went still counts.
                    readDevice(*id);
                    remove(*id);
                }
            } else {
                // A new node often becomes readable only when udev has set its permissions (IN_ATTRIB).
                tryOpen(fileName, true);
            }
        }
    }
}

void EvdevKeyWatcher::readDevice(std::uint64_t id)
{
    std::array<char, sizeof(input_event) * 64> buffer {};
    for (;;) {
        const auto found = devices_.find(id);
        if (found == devices_.end()) {
            return;
        }
        const ssize_t length = ::read(found->second.fd, buffer.data(), buffer.size());
        if (length < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (length <= 0) {
            // Unplugged (ENODEV), access revoked, or the stream ended.
            remove(id);
            return;
        }
        auto& partial = found->second.partial;
        partial.insert(partial.end(), buffer.data(), buffer.data() + length);
        std::size_t used = 0;
        std::vector<input_event> records;
        for (; partial.size() - used >= sizeof(input_event); used += sizeof(input_event)) {
            input_event record {};
            std::memcpy(&record, partial.data() + used, sizeof record);
            records.push_back(record);
        }
        partial.erase(partial.begin(), partial.begin() + std::ptrdiff_t(used));
        for (const auto& record : records) {
            if (!devices_.count(id)) {
                return;
            }
            handleRecord(id, record.type, record.code, record.value);
        }
    }
}

void EvdevKeyWatcher::handleRecord(std::uint64_t id, std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    Device& device = devices_.at(id);
    if (type == EV_SYN) {
        if (code == SYN_DROPPED) {
            device.dropping = true;
        } else if (code == SYN_REPORT && device.dropping) {
            device.dropping = false;
            resync(device);
        }
        return;
    }
    if (device.dropping) {
        return;
    }
    if (type == EV_LED && code == LED_CAPSL) {
        setCapsLock(value != 0);
        return;
    }
    if (type != EV_KEY) {
        return;
    }
    if (value == 1) {
        const bool wasDown = device.down.count(code) != 0;
        press(device, code, true);
        // Keyboards whose lock light the desktop does not set still toggle the lock.
        if (code == KEY_CAPSLOCK && !wasDown) {
            setCapsLock(!capsLockOn_);
        }
    } else if (value == 0) {
        release(device, code);
    }
    // 2 is auto-repeat of a key already down.
}

void EvdevKeyWatcher::resync(Device& device)
{
    const auto info = options_.describe(device.fd);
    if (!info) {
        return;
    }
    for (const unsigned code : std::set<unsigned>(device.down)) {
        if (!info->keysDown.count(code)) {
            release(device, code);
        }
    }
    for (const unsigned code : info->keysDown) {
        press(device, code, true);
    }
    setCapsLock(info->capsLockOn);
}

void EvdevKeyWatcher::press(Device& device, unsigned code, bool report)
{
    if (!device.down.insert(code).second) {
        return;
    }
    const unsigned before = modifiers();
    if (++held_[code] == 1 && report && handlers_.onKey) {
        handlers_.onKey(code, true, before);
    }
}

void EvdevKeyWatcher::release(Device& device, unsigned code)
{
    if (device.down.erase(code) == 0) {
        return;
    }
    const unsigned before = modifiers();
    const auto found = held_.find(code);
    if (found == held_.end() || --found->second > 0) {
        return;
    }
    held_.erase(found);
    if (handlers_.onKey) {
        handlers_.onKey(code, false, before);
    }
}

void EvdevKeyWatcher::setCapsLock(bool isOn)
{
    if (capsLockOn_ == isOn) {
        return;
    }
    capsLockOn_ = isOn;
    if (handlers_.onCapsLock) {
        handlers_.onCapsLock(isOn);
    }
}

std::set<unsigned> EvdevKeyWatcher::keysDown() const
{
    std::set<unsigned> down;
    for (const auto& [code, count] : held_) {
        down.insert(code);
    }
    return down;
}

unsigned EvdevKeyWatcher::modifiers() const
{
    unsigned state = capsLockOn_ ? modifier::lock : 0;
    for (const auto& [code, count] : held_) {
        state |= EvdevKeyCodes::modifierOf(code);
    }
    return state;
}

std::vector<std::string> EvdevKeyWatcher::keyboards() const
{
    std::vector<std::string> names;
    for (const auto& [id, device] : devices_) {
        names.push_back(device.fileName);
    }
    return names;
}

} // namespace platform::input
