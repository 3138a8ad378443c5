#pragma once

#include "platform/system/FileDescriptor.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// A folder for the program's own scratch files, private to the user: the folder has mode 0700 and
// every file made in it 0600, whatever the umask, so nothing in it is readable by other users of
// the machine while it exists.
//
// All failures throw std::filesystem::filesystem_error.
class ScratchFolder {
public:
    // Makes the folder (and missing parents) and narrows its own mode to 0700.
    explicit ScratchFolder(std::filesystem::path folder);

    const std::filesystem::path& path() const { return folder_; }

    // A new empty file of this name (never an existing one), open for writing.
    FileDescriptor create(std::string_view name) const;
    // The same, closed again, for writers that open files by their path.
    std::filesystem::path createFile(std::string_view name) const;

    using NameFilter = std::function<bool(std::string_view name)>;
    // Removes the regular files directly in `folder` whose names the filter accepts and that were
    // last changed before `before` (what this run is writing now is newer), and returns how many.
    // Links, folders and everything below are left alone; a missing folder has nothing to remove.
    static std::size_t removeLeftovers(const std::filesystem::path& folder, const NameFilter& isScratch,
        std::filesystem::file_time_type before);

private:
    std::filesystem::path folder_;
};

} // namespace platform
