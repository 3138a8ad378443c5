#include "platform/audio/AudioFileOutput.hpp"

#include "platform/system/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

class DiskFile final : public AudioFileOutput {
public:
    DiskFile(std::filesystem::path path, FileDescriptor file)
        : path_(std::move(path))
        , file_(std::move(file))
    {
    }

    void write(std::int64_t offset, std::span<const std::byte> bytes) override
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto count = ::pwrite(file_.get(), bytes.data() + done, bytes.size() - done,
                static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                throw std::system_error(errno, std::generic_category(), "write");
            }
            if (count == 0) {
                throw std::system_error(ENOSPC, std::generic_category(), "write");
            }
            done += static_cast<std::size_t>(count);
        }
    }

    bool truncate(std::int64_t size) noexcept override { return ::ftruncate(file_.get(), static_cast<off_t>(size)) == 0; }

    bool remove() noexcept override
    {
        std::error_code error;
        return std::filesystem::remove(path_, error) && !error;
    }

    const std::filesystem::path& path() const override { return path_; }

private:
    std::filesystem::path path_;
    FileDescriptor file_;
};

} // namespace

std::unique_ptr<AudioFileOutput> AudioFileOutput::create(const std::filesystem::path& path, Existing existing)
{
    const int mode = existing == Existing::replace ? O_TRUNC : O_EXCL;
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | mode | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        throw std::system_error(errno, std::generic_category(), "open");
    }
    return std::make_unique<DiskFile>(path, std::move(file));
}

} // namespace platform
