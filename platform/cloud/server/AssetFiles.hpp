#pragma once

#include "platform/cloud/Asset.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace platform::cloud::server {

// Reads an asset's file for upload: missing or unreadable throws assetFileNotFound, larger than
// `maxBytes` limitExceeded.
std::string readAssetFile(const Asset& asset, std::int64_t maxBytes);

// Bytes of an asset are sent and fetched in pieces of this size, each its own statement, so no asset
// is ever held whole in memory and every statement ends within the session's time limit.
inline constexpr std::size_t assetPieceBytes = std::size_t {1} << 20;

// Writes a fetched asset to a new private file of its own in the cache folder (made, private, when
// missing) and returns the asset that owns it. `nextPiece` replaces its argument with the next bytes
// and returns false once there are none left. A failure leaves no file: a failed write throws
// assetNotAvailable, and what `nextPiece` throws passes through.
Asset writeCachedAsset(const std::filesystem::path& cacheFolder, const std::function<bool(std::string& piece)>& nextPiece);

} // namespace platform::cloud::server
