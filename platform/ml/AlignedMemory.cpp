#include "platform/ml/AlignedMemory.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace ml {

namespace {

std::size_t pageSize()
{
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t mappedSize(std::size_t bytes) { return (bytes + pageSize() - 1) / pageSize() * pageSize(); }

} // namespace

void* AlignedMemory::allocate(std::size_t bytes, std::size_t alignment)
{
    bytes = bytes == 0 ? 1 : bytes;
    if (bytes < mappedFrom) {
        void* memory = std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
        if (!memory) {
            throw std::bad_alloc();
        }
        return memory;
    }
    const std::size_t size = mappedSize(bytes);
    // Mapped with room for the alignment, then cut to it.
    const std::size_t slack = alignment > pageSize() ? alignment : 0;
    void* mapped = ::mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = slack ? (start + alignment - 1) & ~(std::uintptr_t(alignment) - 1) : start;
    if (aligned > start) {
        ::munmap(mapped, aligned - start);
    }
    if (const std::size_t tail = start + size + slack - (aligned + size); tail > 0) {
        ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    }
    return reinterpret_cast<void*>(aligned);
}

void* AlignedMemory::allocateZeroed(std::size_t bytes, std::size_t alignment)
{
    void* memory = allocate(bytes, alignment);
    if (bytes < mappedFrom) {
        std::memset(memory, 0, (std::max<std::size_t>(bytes, 1) + alignment - 1) / alignment * alignment);
    }
    return memory;
}

void AlignedMemory::release(void* memory, std::size_t bytes)
{
    bytes = bytes == 0 ? 1 : bytes;
    if (bytes < mappedFrom) {
        std::free(memory);
    } else {
        ::munmap(memory, mappedSize(bytes));
    }
}

} // namespace ml
