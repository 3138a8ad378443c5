#pragma once

#include "platform/system/FileDescriptor.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// An exclusive lock on a file (flock(2)) that one process of the user holds at a time. It is
// tried, never waited for. The kernel lets it go when its holder ends in any way, so a lock file
// left by a crash has no holder and the next `acquire` takes it over. The holder may leave a short
// note in the file (where it can be reached) for the processes that find the lock taken.
class InstanceLock {
public:
    // The lock, or nothing while a live process holds it. The file is made (mode 0600) when
    // missing; throws std::filesystem::filesystem_error when it cannot be opened or locked.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& file);

    const std::filesystem::path& file() const { return file_; }

    // Replaces the note; throws std::filesystem::filesystem_error.
    void setNote(std::string_view note);
    // The note the file holds, empty when it has none or cannot be read.
    static std::string noteOf(const std::filesystem::path& file);
    static constexpr std::size_t maximumNoteSize = 4096;

private:
    InstanceLock(std::filesystem::path file, FileDescriptor descriptor);

    std::filesystem::path file_;
    FileDescriptor descriptor_;
};

} // namespace platform
