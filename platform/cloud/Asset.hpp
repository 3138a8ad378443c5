#pragma once

#include <filesystem>
#include <memory>

namespace platform::cloud {

// A file carried by a record field. An asset to upload names the caller's file, which is read when
// the record is saved (missing: assetFileNotFound; larger than Database::maxAssetBytes: limitExceeded).
// A fetched asset names a file in the asset cache that this asset owns: the file is removed when the
// last copy of the asset is destroyed, so callers copy (or move) it out while they hold the record.
class Asset {
public:
    explicit Asset(std::filesystem::path fileURL);

    // An asset that owns `fileURL` and removes it with its last copy.
    static Asset owningFile(std::filesystem::path fileURL);

    const std::filesystem::path& fileURL() const { return fileURL_; }

private:
    struct OwnedFile;

    std::filesystem::path fileURL_;
    std::shared_ptr<const OwnedFile> owned_;
};

} // namespace platform::cloud
