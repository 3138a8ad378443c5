#include "platform/input/UinputKeyboard.hpp"

#include "platform/input/InputError.hpp"

#include <linux/uinput.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::input {

namespace {

std::string reasonOf(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

class KernelDeviceFile final : public UinputKeyboard::DeviceFile {
public:
    explicit KernelDeviceFile(const std::string& path)
        : path_(path)
        , fd_(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (fd_ < 0) {
            throw InputError(reasonOf((path + " cannot be opened").c_str()));
        }
    }
    ~KernelDeviceFile() override
    {
        if (created_) {
            ::ioctl(fd_, UI_DEV_DESTROY);
        }
        ::close(fd_);
    }
    KernelDeviceFile(const KernelDeviceFile&) = delete;
    KernelDeviceFile& operator=(const KernelDeviceFile&) = delete;

    void create(const std::string& name, const std::vector<unsigned>& keys) override
    {
        if (::ioctl(fd_, UI_SET_EVBIT, EV_KEY) < 0 || ::ioctl(fd_, UI_SET_EVBIT, EV_SYN) < 0) {
            throw InputError(reasonOf((path_ + " refused the key events").c_str()));
        }
        for (const unsigned key : keys) {
            if (::ioctl(fd_, UI_SET_KEYBIT, int(key)) < 0) {
                throw InputError(reasonOf((path_ + " refused a key").c_str()));
            }
        }
        uinput_setup setup {};
        setup.id.bustype = BUS_VIRTUAL;
        setup.id.vendor = 0x1;
        setup.id.product = 0x1;
        std::strncpy(setup.name, name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
        if (::ioctl(fd_, UI_DEV_SETUP, &setup) < 0 || ::ioctl(fd_, UI_DEV_CREATE) < 0) {
            throw InputError(reasonOf((path_ + " refused to create the keyboard").c_str()));
        }
        created_ = true;
    }

    void write(const std::vector<input_event>& events) override
    {
        const auto size = events.size() * sizeof(input_event);
        if (::write(fd_, events.data(), size) != ssize_t(size)) {
            throw InputError(reasonOf("the virtual keyboard refused the keys"));
        }
    }

private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
};

input_event record(std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    input_event event {};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

} // namespace

std::unique_ptr<UinputKeyboard::DeviceFile> UinputKeyboard::openDeviceFile(const std::string& path)
{
    return std::make_unique<KernelDeviceFile>(path);
}

std::string UinputKeyboard::missing(const std::string& path)
{
    if (::access(path.c_str(), F_OK) != 0) {
        return "no " + path + " on this system";
    }
    if (::access(path.c_str(), W_OK) != 0) {
        return path + " is not writable";
    }
    return {};
}

UinputKeyboard::UinputKeyboard(std::unique_ptr<DeviceFile> file)
    : file_(std::move(file))
{
    // The whole main block, so that the desktop takes it for a full keyboard.
    std::vector<unsigned> keys;
    for (unsigned key = KEY_ESC; key <= KEY_MICMUTE; ++key) {
        keys.push_back(key);
    }
    file_->create(deviceName, keys);
}

UinputKeyboard::~UinputKeyboard() = default;

void UinputKeyboard::tap(const std::vector<unsigned>& chord)
{
    std::vector<input_event> events;
    for (const unsigned key : chord) {
        events.push_back(record(EV_KEY, std::uint16_t(key), 1));
        events.push_back(record(EV_SYN, SYN_REPORT, 0));
    }
    for (auto key = chord.rbegin(); key != chord.rend(); ++key) {
        events.push_back(record(EV_KEY, std::uint16_t(*key), 0));
        events.push_back(record(EV_SYN, SYN_REPORT, 0));
    }
    file_->write(events);
}

void UinputKeyboard::postPaste()
{
    tap({KEY_LEFTCTRL, KEY_V});
}

void UinputKeyboard::postReturn()
{
    tap({KEY_ENTER});
}

} // namespace platform::input
