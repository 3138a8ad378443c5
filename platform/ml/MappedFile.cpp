#include "platform/ml/MappedFile.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/system/RegularFile.hpp"

#include <optional>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace ml {

MappedFile MappedFile::open(const std::filesystem::path& file)
{
    auto fail = [&](const char* what) { throw ModelError(file.string() + ": " + what); };
    std::optional<platform::RegularFile> opened;
    try {
        opened.emplace(platform::RegularFile::open(file));
    } catch (const std::filesystem::filesystem_error& error) {
        fail(error.code() == std::errc::invalid_argument ? "is not a regular file" : "cannot be opened");
    }
    MappedFile mapped;
    mapped.size_ = opened->size();
    if (mapped.size_ == 0) {
        return mapped;
    }
    void* address = ::mmap(nullptr, mapped.size_, PROT_READ, MAP_PRIVATE, opened->descriptor().get(), 0);
    if (address == MAP_FAILED) {
        fail("cannot be mapped");
    }
    const std::size_t length = mapped.size_;
    mapped.mapping_ = std::shared_ptr<void>(address, [length](void* p) { ::munmap(p, length); });
    return mapped;
}

void MappedFile::release(std::size_t offset, std::size_t length) const
{
    if (!mapping_ || offset >= size_) {
        return;
    }
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    // Whole pages inside the range only: the pages at its ends may hold a neighbour's bytes.
    const std::size_t end = std::min(size_, offset + std::min(length, size_ - offset));
    const std::size_t first = (offset + page - 1) / page * page;
    const std::size_t last = end == size_ ? (end + page - 1) / page * page : end / page * page;
    if (last > first) {
        ::madvise(static_cast<unsigned char*>(mapping_.get()) + first, last - first, MADV_DONTNEED);
    }
}

} // namespace ml
