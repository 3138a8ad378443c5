#include "platform/cloud/Asset.hpp"

#include "platform/system/FileDescriptor.hpp"

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <unistd.h>

namespace platform::cloud {

struct Asset::OwnedFile {
    explicit OwnedFile(std::filesystem::path file)
        : path(std::move(file))
    {
    }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    std::mutex mutex;
    std::filesystem::path path;
    bool moved = false;

    ~OwnedFile()
    {
        if (!moved) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }
};

Asset::Asset(std::filesystem::path fileURL)
    : fileURL_(std::move(fileURL))
{
}

Asset Asset::owningFile(std::filesystem::path fileURL)
{
    Asset asset(fileURL);
    asset.owned_.reset(new OwnedFile(std::move(fileURL)));
    return asset;
}

bool Asset::moveFile(const std::filesystem::path& destination) const
{
    if (!owned_) {
        return false;
    }
    std::lock_guard lock(owned_->mutex);
    if (owned_->moved) {
        return false;
    }
    {
        const platform::FileDescriptor file(::open(owned_->path.c_str(), O_RDONLY | O_CLOEXEC));
        if (file.get() < 0 || ::fsync(file.get()) != 0) {
            return false;
        }
    }
    if (std::rename(owned_->path.c_str(), destination.c_str()) != 0) {
        return false;
    }
    owned_->moved = true;
    const auto folder = destination.parent_path();
    const platform::FileDescriptor directory(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
    return true;
}

} // namespace platform::cloud
