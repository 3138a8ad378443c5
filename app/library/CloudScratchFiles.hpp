#pragma once

#include <filesystem>

namespace parlino {

// The files the cloud sync keeps only for a while: the copies of recordings made for uploads, the
// assets fetched from the store before they go into the library, and the hidden files a download
// writes into the library before renaming them into place. All live in private folders (0700) or
// are private files (0600), and what an earlier run left behind (a kill in the middle of a transfer)
// is removed by the next one.
class CloudScratchFiles {
public:
    // `uploads` holds the upload copies, `assets` the fetched assets.
    CloudScratchFiles(std::filesystem::path uploads, std::filesystem::path assets);

    const std::filesystem::path& uploadsFolder() const { return uploads_; }
    const std::filesystem::path& assetsFolder() const { return assets_; }

    // A private copy of `source` under a new name in the uploads folder (made when missing). Throws
    // std::filesystem::filesystem_error, leaving no file, when the copy cannot be made.
    std::filesystem::path copyForUpload(const std::filesystem::path& source) const;

    // Removes what was last changed before `before` in the two folders, and the sync's own hidden
    // temporary files (".<record name>.m4a.<…>.tmp", ".<record name>.json.<…>.tmp") in the library
    // folder. Newer files belong to work still under way and stay. Returns how many went.
    std::size_t removeLeftovers(const std::filesystem::path& libraryFolder,
                                std::filesystem::file_time_type before) const;

    // Whether a library file name is one of the sync's hidden temporary files.
    static bool isDownloadTemporary(const std::string& fileName);

private:
    std::filesystem::path uploads_;
    std::filesystem::path assets_;
};

} // namespace parlino
