#pragma once

#include <filesystem>
#include <system_error>

namespace platform {

// Gives a file a new name on the same file system without ever replacing a file that already has
// that name: the error is std::errc::file_exists then, and both files stay as they were. Where the
// file system cannot rename that way, the file is linked under the new name and the old name removed.
std::error_code moveItemWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace platform
