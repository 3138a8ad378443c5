#pragma once

#include "platform/system/FileDescriptor.hpp"

#include <filesystem>
#include <optional>

namespace platform {

// An exclusive lock on a file (flock(2)) that one process of the user holds at a time. It is
// tried, never waited for. The kernel lets it go when its holder ends in any way, so a lock file
// left by a crash has no holder and the next `acquire` takes it over.
class InstanceLock {
public:
    // The lock, or nothing while a live process holds it. The file is made (mode 0600) when
    // missing; throws std::filesystem::filesystem_error when it cannot be opened or locked.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& file);

    const std::filesystem::path& file() const { return file_; }

private:
    InstanceLock(std::filesystem::path file, FileDescriptor descriptor);

    std::filesystem::path file_;
    FileDescriptor descriptor_;
};

} // namespace platform
