#pragma once

#include "platform/audio/AudioFileOutput.hpp"

#include <cerrno>
#include <memory>
#include <system_error>

namespace testsupport {

// A real file on a disk that fills up: writes that would take the file past `capacity` bytes
// store what fits and then fail with "No space left on device".
class FullDiskOutput final : public platform::AudioFileOutput {
public:
    FullDiskOutput(const std::filesystem::path& path, std::int64_t capacity)
        : file_(platform::AudioFileOutput::create(path))
        , capacity_(capacity)
    {
    }

    void write(std::int64_t offset, std::span<const std::byte> bytes) override
    {
        const auto end = offset + static_cast<std::int64_t>(bytes.size());
        if (end <= capacity_) {
            file_->write(offset, bytes);
            return;
        }
        if (offset < capacity_) {
            file_->write(offset, bytes.first(static_cast<std::size_t>(capacity_ - offset)));
        }
        throw std::system_error(ENOSPC, std::generic_category(), "write");
    }

    bool truncate(std::int64_t size) noexcept override { return file_->truncate(size); }
    bool remove() noexcept override { return file_->remove(); }
    const std::filesystem::path& path() const override { return file_->path(); }

private:
    std::unique_ptr<platform::AudioFileOutput> file_;
    std::int64_t capacity_;
};

} // namespace testsupport
