#pragma once

#include "platform/cloud/Asset.hpp"
#include "platform/system/FileDescriptor.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace platform::cloud::server {

// Bytes of an asset are sent and fetched in pieces of this size, each its own statement, so no asset
// is ever held whole in memory and every statement ends within the session's time limit.
inline constexpr std::size_t assetPieceBytes = std::size_t {1} << 20;

// An asset's file opened for upload, with the size it had then: missing, unreadable or not a regular
// file throws assetFileNotFound, larger than `maxBytes` limitExceeded.
struct OpenedAssetFile {
    platform::FileDescriptor file;
    std::int64_t bytes = 0;
};
OpenedAssetFile openAssetFile(const Asset& asset, std::int64_t maxBytes);

// Hands the opened file's bytes to `take` in pieces of at most assetPieceBytes. A file that is no
// longer the size it was opened with throws assetFileNotFound: what was sent is not the asset.
void readAssetPieces(const OpenedAssetFile& opened, const std::function<void(const std::string& piece)>& take);

// Writes a fetched asset to a new private file of its own in the cache folder (made, private, when
// missing) and returns the asset that owns it. `nextPiece` replaces its argument with the next bytes
// and returns false once there are none left. A failure leaves no file: a failed write throws
// assetNotAvailable, and what `nextPiece` throws passes through.
Asset writeCachedAsset(const std::filesystem::path& cacheFolder, const std::function<bool(std::string& piece)>& nextPiece);

} // namespace platform::cloud::server
