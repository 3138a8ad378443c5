#include "platform/system/FileMoves.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

std::error_code moveItemWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return {errno, std::generic_category()};
    }
    // A file system without the no-replace flag: a hard link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    if (::unlink(from.c_str()) != 0) {
        const std::error_code error(errno, std::generic_category());
        ::unlink(to.c_str());
        return error;
    }
    return {};
}

} // namespace platform
