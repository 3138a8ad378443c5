#pragma once

#include <filesystem>

namespace platform {

// A finished transfer's temporary file; removed at scope end unless committed to its final place.
class DownloadedFile {
public:
    DownloadedFile() = default;
    explicit DownloadedFile(std::filesystem::path path)
        : path_(std::move(path))
    {
    }
    ~DownloadedFile();
    DownloadedFile(DownloadedFile&& other) noexcept;
    DownloadedFile& operator=(DownloadedFile&& other) noexcept;
    DownloadedFile(const DownloadedFile&) = delete;
    DownloadedFile& operator=(const DownloadedFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Renames the file onto `destination` in one step (replacing a file there); throws
    // std::filesystem::filesystem_error and keeps ownership when that fails.
    void commit(const std::filesystem::path& destination);
    void discard();

private:
    std::filesystem::path path_;
};

} // namespace platform
