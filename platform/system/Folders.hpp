#pragma once

#include <filesystem>

namespace platform {

// The user's folders: XDG variables first, then the usual places under the home folder.
class Folders {
public:
    static std::filesystem::path home();
    static std::filesystem::path documents();   // $XDG_DOCUMENTS_DIR, else ~/Documents
    static std::filesystem::path caches();      // $XDG_CACHE_HOME, else ~/.cache
    static std::filesystem::path downloads();   // $XDG_DOWNLOAD_DIR, else ~/Downloads
    static std::filesystem::path configuration(); // $XDG_CONFIG_HOME, else ~/.config
};

} // namespace platform
