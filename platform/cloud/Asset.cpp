#include "platform/cloud/Asset.hpp"

#include <system_error>

namespace platform::cloud {

struct Asset::OwnedFile {
    explicit OwnedFile(std::filesystem::path file)
        : path(std::move(file))
    {
    }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    std::filesystem::path path;

    ~OwnedFile()
    {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
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

} // namespace platform::cloud
