#include "platform/ml/MappedFile.hpp"

#include "platform/ml/ModelError.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {

MappedFile MappedFile::open(const std::filesystem::path& file)
{
    auto fail = [&](const char* what) { throw ModelError(file.string() + ": " + what); };
    // Non-blocking, so that a FIFO in the file's place fails the regular-file check instead of hanging.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        fail("cannot be opened");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail("is not a regular file");
    }
    MappedFile mapped;
    mapped.size_ = static_cast<std::size_t>(info.st_size);
    if (mapped.size_ == 0) {
        ::close(fd);
        return mapped;
    }
    void* address = ::mmap(nullptr, mapped.size_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
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
