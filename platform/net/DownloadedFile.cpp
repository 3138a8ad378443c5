#include "platform/net/DownloadedFile.hpp"

#include <utility>

namespace platform {

DownloadedFile::~DownloadedFile()
{
    discard();
}

DownloadedFile::DownloadedFile(DownloadedFile&& other) noexcept
    : path_(std::exchange(other.path_, {}))
{
}

DownloadedFile& DownloadedFile::operator=(DownloadedFile&& other) noexcept
{
    if (this != &other) {
        discard();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

void DownloadedFile::commit(const std::filesystem::path& destination)
{
    std::filesystem::rename(path_, destination);
    path_.clear();
}

void DownloadedFile::discard()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        path_.clear();
    }
}

} // namespace platform
