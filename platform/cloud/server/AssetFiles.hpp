#pragma once

#include "platform/cloud/Asset.hpp"

#include <cstddef>
#include <filesystem>
#include <string>

namespace platform::cloud::server {

// Reads an asset's file for upload: missing or unreadable throws assetFileNotFound, larger than
// `maxBytes` limitExceeded.
std::string readAssetFile(const Asset& asset, std::int64_t maxBytes);

// Writes fetched bytes to a new file of its own in the cache folder (made when missing) and returns
// the asset that owns it; a failure leaves no file and throws assetNotAvailable.
Asset writeCachedAsset(const std::filesystem::path& cacheFolder, const unsigned char* data, std::size_t size);

} // namespace platform::cloud::server
