#pragma once

// Helpers shared by the libFuzzer targets of this folder. Each target is one executable that
// libFuzzer drives through LLVMFuzzerTestOneInput; what a parser may throw for bad input is caught
// there, so that only crashes, sanitizer reports, leaks and hangs count as findings.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace fuzzsupport {

// A folder of this process's own in shared memory (or the temporary folder), made on first use and
// removed at exit, for parsers that read files.
inline const std::filesystem::path& scratchFolder()
{
    static const std::filesystem::path folder = [] {
        const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string pattern = (base / "parlino-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// Replaces the file with the bytes.
void writeFile(const std::filesystem::path& path, std::string_view bytes);

// An input holding two documents: a two-byte little-endian length, that many bytes of the first,
// then the rest as the second. Inputs too short for the length give an empty first document.
inline std::pair<std::string_view, std::string_view> splitTwo(const std::uint8_t* data, std::size_t size)
{
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    if (size < 2) {
        return {{}, all};
    }
    const std::size_t first = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
    return {all.substr(2, first), all.substr(2 + first)};
}

// The inverse of splitTwo, for writing seeds; the first document must be shorter than 64 KiB.
std::string joinTwo(std::string_view first, std::string_view second);

// Takes bytes off the front of an input for choices and numbers.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size)
    {
    }
    bool empty() const { return size_ == 0; }
    std::uint8_t byte()
    {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    std::uint32_t number(int bytes)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value = (value << 8) | byte();
        }
        return value;
    }
    std::string_view text(std::size_t most)
    {
        const std::size_t count = std::min(most, size_);
        const std::string_view taken(reinterpret_cast<const char*>(data_), count);
        data_ += count;
        size_ -= count;
        return taken;
    }
    std::string_view rest() { return text(size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

} // namespace fuzzsupport
