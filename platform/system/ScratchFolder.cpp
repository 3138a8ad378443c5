#include "platform/system/ScratchFolder.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>

namespace platform {

namespace {

constexpr mode_t folderMode = 0700;
constexpr mode_t fileMode = 0600;

[[noreturn]] void fail(const char* what, const std::filesystem::path& path, int error)
{
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

} // namespace

ScratchFolder::ScratchFolder(std::filesystem::path folder)
    : folder_(std::move(folder))
{
    std::filesystem::create_directories(folder_);
    struct stat status {};
    if (::lstat(folder_.c_str(), &status) != 0) {
        fail("Cannot read the attributes of the folder", folder_, errno);
    }
    if (!S_ISDIR(status.st_mode)) {
        fail("Not a folder", folder_, ENOTDIR);
    }
    if ((status.st_mode & 07777) != folderMode && ::chmod(folder_.c_str(), folderMode) != 0) {
        fail("Cannot make the folder private", folder_, errno);
    }
}

FileDescriptor ScratchFolder::create(std::string_view name) const
{
    const std::filesystem::path file = folder_ / name;
    FileDescriptor descriptor(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode));
    if (descriptor.get() < 0) {
        fail("Cannot create a scratch file", file, errno);
    }
    // The umask may have taken bits away, never added any; this only makes sure of the mode.
    ::fchmod(descriptor.get(), fileMode);
    return descriptor;
}

std::filesystem::path ScratchFolder::createFile(std::string_view name) const
{
    FileDescriptor descriptor = create(name);
    if (!descriptor.close()) {
        fail("Cannot create a scratch file", folder_ / name, errno);
    }
    return folder_ / name;
}

std::size_t ScratchFolder::removeLeftovers(const std::filesystem::path& folder, const NameFilter& isScratch,
    std::filesystem::file_time_type before)
{
    std::size_t removed = 0;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        const std::string name = entry.path().filename().string();
        if (!isScratch(name)) {
            continue;
        }
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || entry.is_symlink(ignored)) {
            continue;
        }
        const auto changed = std::filesystem::last_write_time(entry.path(), ignored);
        if (ignored || changed >= before) {
            continue;
        }
        if (std::filesystem::remove(entry.path(), ignored)) {
            ++removed;
        }
    }
    return removed;
}

} // namespace platform
