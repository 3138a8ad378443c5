#include "platform/system/Folders.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {
std::filesystem::path fromEnvironment(const char* variable, const std::filesystem::path& fallback)
{
    const char* value = std::getenv(variable);
    // Relative values are invalid in the XDG rules and ignored.
    if (value && value[0] == '/') {
        return value;
    }
    return fallback;
}
} // namespace

std::filesystem::path Folders::home()
{
    if (const char* value = std::getenv("HOME"); value && value[0] == '/') {
        return value;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/tmp";
}

std::filesystem::path Folders::documents()
{
    return fromEnvironment("XDG_DOCUMENTS_DIR", home() / "Documents");
}

std::filesystem::path Folders::caches()
{
    return fromEnvironment("XDG_CACHE_HOME", home() / ".cache");
}

std::filesystem::path Folders::downloads()
{
    return fromEnvironment("XDG_DOWNLOAD_DIR", home() / "Downloads");
}

std::filesystem::path Folders::configuration()
{
    return fromEnvironment("XDG_CONFIG_HOME", home() / ".config");
}

} // namespace platform
