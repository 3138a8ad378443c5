#pragma once

#include <filesystem>
#include <memory>

namespace platform::cloud {

// A file carried by a record field. An asset to upload names the caller's file, which is read when
// the record is saved (missing: assetFileNotFound; larger than the database's maxAssetBytes(): limitExceeded).
// A fetched asset names a file in the asset cache that this asset owns: the file is removed when the
// last copy of the asset is destroyed, so callers copy (or move) it out while they hold the record.
class Asset {
public:
    explicit Asset(std::filesystem::path fileURL);

    // An asset that owns `fileURL` and removes it with its last copy.
    static Asset owningFile(std::filesystem::path fileURL);

    const std::filesystem::path& fileURL() const { return fileURL_; }

    // Gives an owned file a new name (a rename, so on the same file system only) after flushing it
    // to the disk; from then on no copy of the asset removes it. False, with nothing changed, for an
    // asset that owns no file or when the rename fails (the caller copies instead).
    bool moveFile(const std::filesystem::path& destination) const;

private:
    struct OwnedFile;

    std::filesystem::path fileURL_;
    std::shared_ptr<OwnedFile> owned_;
};

} // namespace platform::cloud
