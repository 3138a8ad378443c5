#include "platform/system/DirectoryLock.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace platform {

DirectoryLock::DirectoryLock(const std::filesystem::path& folder)
{
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::filesystem::filesystem_error("cannot lock the folder", folder, std::error_code(errno, std::generic_category()));
    }
    int result = 0;
    while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        const int error = errno;
        ::close(fd_);
        throw std::filesystem::filesystem_error("cannot lock the folder", folder, std::error_code(error, std::generic_category()));
    }
}

DirectoryLock::~DirectoryLock()
{
    ::close(fd_);
}

} // namespace platform
