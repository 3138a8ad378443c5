#pragma once

#include <chrono>
#include <filesystem>

namespace platform {

class FileTimes {
public:
    // When the file was made: its birth time where the file system keeps one, else the time it was
    // last modified. Throws std::filesystem::filesystem_error when the file cannot be examined.
    static std::chrono::system_clock::time_point creationDate(const std::filesystem::path& path);
};

} // namespace platform
