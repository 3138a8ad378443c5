#pragma once

#include <filesystem>

namespace platform {

// An exclusive advisory lock on a folder (flock(2) on the folder itself), held from construction
// until destruction; other processes taking the same lock wait. The kernel lets it go when the
// process ends, so a crash never leaves it taken.
class DirectoryLock {
public:
    // Waits for the lock; throws std::filesystem::filesystem_error when the folder cannot be opened.
    explicit DirectoryLock(const std::filesystem::path& folder);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace platform
