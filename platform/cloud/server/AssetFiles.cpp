#include "platform/cloud/server/AssetFiles.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/system/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::cloud::server {

std::string readAssetFile(const Asset& asset, std::int64_t maxBytes)
{
    platform::FileDescriptor file(::open(asset.fileURL().c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw CloudError(CloudError::Code::assetFileNotFound);
    }
    if (status.st_size > maxBytes) {
        throw CloudError(CloudError::Code::limitExceeded);
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // The file may have grown since fstat: keep reading, within the limit.
            bytes.resize(done + 65536);
        }
        const auto count = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw CloudError(CloudError::Code::assetFileNotFound);
        }
        if (count == 0) {
            break;
        }
        done += static_cast<std::size_t>(count);
        if (static_cast<std::int64_t>(done) > maxBytes) {
            throw CloudError(CloudError::Code::limitExceeded);
        }
    }
    bytes.resize(done);
    return bytes;
}

Asset writeCachedAsset(const std::filesystem::path& cacheFolder, const std::function<bool(std::string& piece)>& nextPiece)
{
    std::error_code error;
    std::filesystem::create_directories(cacheFolder, error);
    std::filesystem::permissions(cacheFolder, std::filesystem::perms::owner_all, error);
    std::string path = (cacheFolder / "asset-XXXXXX").string();
    platform::FileDescriptor file(::mkostemp(path.data(), O_CLOEXEC));
    if (file.get() < 0) {
        throw CloudError(CloudError::Code::assetNotAvailable);
    }
    // Owned from here on, so every failure below removes the file.
    auto asset = Asset::owningFile(path);
    std::string piece;
    while (nextPiece(piece)) {
        if (!file.writeAll(piece.data(), piece.size())) {
            throw CloudError(CloudError::Code::assetNotAvailable);
        }
    }
    if (!file.close()) {
        throw CloudError(CloudError::Code::assetNotAvailable);
    }
    return asset;
}

} // namespace platform::cloud::server
