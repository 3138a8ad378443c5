#pragma once

#include <cstddef>

namespace ml {

// Aligned storage for arrays and buffers. Large blocks are mapped from the system on their own
// and unmapped when released: the C library keeps large freed blocks in its heaps once it has seen
// a few of them freed, and in a long transcription blocks of many sizes then pile up there.
struct AlignedMemory {
    // Blocks from this size on are mapped.
    static constexpr std::size_t mappedFrom = std::size_t(256) << 10;

    // `bytes` (at least one) aligned to `alignment` (a power of two, at most a huge page); throws
    // std::bad_alloc when there is no memory.
    static void* allocate(std::size_t bytes, std::size_t alignment);
    // The same, filled with zeros; mapped blocks come from the system zeroed and are not written.
    static void* allocateZeroed(std::size_t bytes, std::size_t alignment);
    // Gives back a block from allocate() of the same size.
    static void release(void* memory, std::size_t bytes);
};

} // namespace ml
