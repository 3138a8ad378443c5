#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hub {

// A repository id or a listed file name that could reach outside the download tree.
class UnsafePathError : public std::runtime_error {
public:
    explicit UnsafePathError(const std::string& path);
};

// True for "a/b.json": relative, "/" between non-empty segments, none of them "." or "..", and no
// backslash, NUL or other control character.
bool isSafeRelativePath(std::string_view path);
void requireSafeRelativePath(std::string_view path);

// Whether `path`, with the symbolic links of its existing part resolved, lies strictly below `folder`.
bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder);

} // namespace hub
