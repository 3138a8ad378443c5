#include "platform/system/InstanceLock.hpp"

#include "platform/system/RegularFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void fail(const char* what, const std::filesystem::path& file, int error)
{
    throw std::filesystem::filesystem_error(what, file, std::error_code(error, std::generic_category()));
}

} // namespace

InstanceLock::InstanceLock(std::filesystem::path file, FileDescriptor descriptor)
    : file_(std::move(file))
    , descriptor_(std::move(descriptor))
{
}

std::optional<InstanceLock> InstanceLock::acquire(const std::filesystem::path& file)
{
    // Close-on-exec: a program the holder starts must not keep the lock after the holder is gone.
    FileDescriptor descriptor(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (descriptor.get() < 0) {
        fail("Cannot open the lock file", file, errno);
    }
    int result = 0;
    while ((result = ::flock(descriptor.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        if (errno == EWOULDBLOCK) {
            return std::nullopt;
        }
        fail("Cannot lock the file", file, errno);
    }
    return InstanceLock(file, std::move(descriptor));
}

void InstanceLock::setNote(std::string_view note)
{
    if (note.size() > maximumNoteSize) {
        fail("The note is too long for the lock file", file_, EFBIG);
    }
    if (::ftruncate(descriptor_.get(), 0) != 0) {
        fail("Cannot write the lock file", file_, errno);
    }
    std::size_t done = 0;
    while (done < note.size()) {
        const auto count = ::pwrite(descriptor_.get(), note.data() + done, note.size() - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            fail("Cannot write the lock file", file_, count < 0 ? errno : ENOSPC);
        }
        done += static_cast<std::size_t>(count);
    }
}

std::string InstanceLock::noteOf(const std::filesystem::path& file)
{
    try {
        return RegularFile::read(file, maximumNoteSize);
    } catch (const std::filesystem::filesystem_error&) {
        return {};
    }
}

} // namespace platform
