#include "platform/cloud/server/AssetFiles.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/system/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::cloud::server {

OpenedAssetFile openAssetFile(const Asset& asset, std::int64_t maxBytes)
{
    OpenedAssetFile opened {platform::FileDescriptor(::open(asset.fileURL().c_str(), O_RDONLY | O_CLOEXEC))};
    struct stat status {};
    if (opened.file.get() < 0 || ::fstat(opened.file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw CloudError(CloudError::Code::assetFileNotFound);
    }
    if (status.st_size > maxBytes) {
        throw CloudError(CloudError::Code::limitExceeded);
    }
    opened.bytes = status.st_size;
    return opened;
}

void readAssetPieces(const OpenedAssetFile& opened, const std::function<void(const std::string& piece)>& take)
{
    std::string piece;
    std::int64_t done = 0;
    for (;;) {
        piece.resize(assetPieceBytes);
        std::size_t filled = 0;
        while (filled < piece.size()) {
            const auto count = ::pread(opened.file.get(), piece.data() + filled, piece.size() - filled,
                                       static_cast<off_t>(done + static_cast<std::int64_t>(filled)));
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                throw CloudError(CloudError::Code::assetFileNotFound);
            }
            if (count == 0) {
                break;
            }
            filled += static_cast<std::size_t>(count);
        }
        piece.resize(filled);
        done += static_cast<std::int64_t>(filled);
        if (done > opened.bytes) {
            throw CloudError(CloudError::Code::assetFileNotFound);
        }
        if (filled == 0) {
            break;
        }
        take(piece);
    }
    if (done != opened.bytes) {
        throw CloudError(CloudError::Code::assetFileNotFound);
    }
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
