#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>
#include <utility>

namespace platform {

// An open file descriptor, closed at scope end unless released or closed first.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd)
    {
    }
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept
        : fd_(other.release())
    {
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            if (fd_ >= 0) {
                ::close(fd_);
            }
            fd_ = other.release();
        }
        return *this;
    }

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    // False (with errno) when closing reports an error, such as a failed delayed write.
    bool close() { return ::close(release()) == 0; }

    // Writes all of `data`, going on after interruptions; false (with errno) on failure.
    bool writeAll(const void* data, std::size_t size) const
    {
        const auto* bytes = static_cast<const char*>(data);
        std::size_t offset = 0;
        while (offset < size) {
            const auto count = ::write(fd_, bytes + offset, size - offset);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                return false;
            }
            offset += static_cast<std::size_t>(count);
        }
        return true;
    }

private:
    int fd_;
};

} // namespace platform
