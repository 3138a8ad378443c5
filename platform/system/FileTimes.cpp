#include "platform/system/FileTimes.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>

namespace platform {

namespace {
std::chrono::system_clock::time_point timeOf(const struct statx_timestamp& stamp)
{
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
}
} // namespace

std::chrono::system_clock::time_point FileTimes::creationDate(const std::filesystem::path& path)
{
    struct statx status {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &status) != 0) {
        throw std::filesystem::filesystem_error("Cannot read the attributes of the file", path,
                                                std::error_code(errno, std::generic_category()));
    }
    if (status.stx_mask & STATX_BTIME) {
        return timeOf(status.stx_btime);
    }
    return timeOf(status.stx_mtime);
}

} // namespace platform
