#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace platform {

// Where the bytes of a new audio file go. The writer reaches the disk only through this, so a test
// can stand in a disk that fills up.
class AudioFileOutput {
public:
    virtual ~AudioFileOutput() = default;

    // Writes all of `bytes` at `offset`; throws std::system_error with the system's reason when
    // they cannot all be written.
    virtual void write(std::int64_t offset, std::span<const std::byte> bytes) = 0;
    // Cuts the file to its first `size` bytes; false when that failed.
    virtual bool truncate(std::int64_t size) noexcept = 0;
    // Removes the file; false when that failed.
    virtual bool remove() noexcept = 0;
    virtual const std::filesystem::path& path() const = 0;

    // What `create` does with a file already at the path.
    enum class Existing { refuse, replace };

    // Creates the file at `path`, never following a link there; throws std::system_error (with
    // std::errc::file_exists for a name already taken, unless it is to be replaced).
    static std::unique_ptr<AudioFileOutput> create(const std::filesystem::path& path, Existing existing = Existing::refuse);
};

} // namespace platform
