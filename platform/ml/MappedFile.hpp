#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>

namespace ml {

// A read-only private mapping of a whole regular file, unmapped with the last holder of `owner()`.
class MappedFile {
public:
    // Throws ModelError naming the file when it cannot be opened, is not a regular file or cannot
    // be mapped. An empty file maps to no data.
    static MappedFile open(const std::filesystem::path& file);

    const unsigned char* data() const { return static_cast<const unsigned char*>(mapping_.get()); }
    std::size_t size() const { return size_; }
    // Shares the mapping with views that outlive this object.
    const std::shared_ptr<void>& owner() const { return mapping_; }

    // Lets the kernel drop the resident pages of a range that was read once, so that reading a
    // large file through keeps little of it in memory; a later read fetches the pages again.
    void release(std::size_t offset, std::size_t length) const;

private:
    std::shared_ptr<void> mapping_;
    std::size_t size_ = 0;
};

} // namespace ml
