#include "platform/system/FileBookmark.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* pathKey = "path";
constexpr const char* deviceKey = "device";
constexpr const char* inodeKey = "inode";
constexpr const char* birthKey = "birth";

std::string systemError(int error)
{
    return std::strerror(error);
}

struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // Nanoseconds since the epoch; 0 where the file system keeps no birth time. Inode numbers are
    // reused, so a folder removed and made again may get its old one back.
    std::uint64_t birth = 0;
};

// Returns errno, or 0 with the identity filled in.
int identify(const std::filesystem::path& path, Identity& identity)
{
    struct statx status {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &status) != 0) {
        return errno;
    }
    identity.device = (static_cast<std::uint64_t>(status.stx_dev_major) << 32) | status.stx_dev_minor;
    identity.inode = status.stx_ino;
    if (status.stx_mask & STATX_BTIME) {
        identity.birth = static_cast<std::uint64_t>(status.stx_btime.tv_sec) * 1000000000u + status.stx_btime.tv_nsec;
    }
    return 0;
}

} // namespace

std::string FileBookmark::create(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (error) {
        throw FileBookmarkError("Cannot make a bookmark for " + path.string() + ": " + error.message());
    }
    Identity identity;
    if (const int failure = identify(resolved, identity)) {
        throw FileBookmarkError("Cannot make a bookmark for " + path.string() + ": " + systemError(failure));
    }
    nlohmann::ordered_json bookmark;
    bookmark[pathKey] = resolved.string();
    bookmark[deviceKey] = identity.device;
    bookmark[inodeKey] = identity.inode;
    bookmark[birthKey] = identity.birth;
    return bookmark.dump();
}

FileBookmark::Resolution FileBookmark::resolve(std::string_view data)
{
    const nlohmann::json bookmark = nlohmann::json::parse(data, nullptr, false);
    const auto field = [&](const char* key) -> const nlohmann::json* {
        const auto found = bookmark.is_object() ? bookmark.find(key) : bookmark.end();
        return found == bookmark.end() ? nullptr : &*found;
    };
    const nlohmann::json* path = field(pathKey);
    const nlohmann::json* device = field(deviceKey);
    const nlohmann::json* inode = field(inodeKey);
    const nlohmann::json* birth = field(birthKey);
    const auto isCount = [](const nlohmann::json* value) { return value && value->is_number_unsigned(); };
    if (!path || !path->is_string() || !isCount(device) || !isCount(inode) || !isCount(birth)) {
        throw FileBookmarkError("The bookmark data is damaged");
    }
    Resolution resolution {std::filesystem::path(path->get<std::string>()), false};
    if (!resolution.path.is_absolute()) {
        throw FileBookmarkError("The bookmark data is damaged");
    }
    Identity now;
    if (const int failure = identify(resolution.path, now)) {
        if (failure != ENOENT && failure != ENOTDIR) {
            throw FileBookmarkError("Cannot resolve the bookmark of " + resolution.path.string() + ": "
                                    + systemError(failure));
        }
        resolution.isStale = true;
        return resolution;
    }
    const auto stored = birth->get<std::uint64_t>();
    resolution.isStale = now.device != device->get<std::uint64_t>() || now.inode != inode->get<std::uint64_t>()
        || (stored != 0 && now.birth != 0 && now.birth != stored);
    return resolution;
}

bool FileBookmark::startAccessingSecurityScopedResource(const std::filesystem::path& folder)
{
    std::error_code error;
    return std::filesystem::is_directory(folder, error) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

} // namespace platform
