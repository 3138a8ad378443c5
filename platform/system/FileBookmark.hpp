#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

class FileBookmarkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A remembered file or folder that later launches find again: its absolute path with symbolic links
// resolved, plus the device and inode it had. The bookmark goes stale when nothing is at the path any
// more or something else has taken its place.
class FileBookmark {
public:
    struct Resolution {
        std::filesystem::path path;
        bool isStale = false;
    };

    // The bookmark's bytes; throws FileBookmarkError when the item cannot be examined.
    static std::string create(const std::filesystem::path& path);
    // Throws FileBookmarkError for bytes that are no bookmark or an item that cannot be examined.
    static Resolution resolve(std::string_view data);

    // Whether this program may write into the folder; true is the access a bookmark stands for.
    static bool startAccessingSecurityScopedResource(const std::filesystem::path& folder);
};

} // namespace platform
