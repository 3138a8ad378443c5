#include "platform/ml/programs/kernels/BufferPool.hpp"

#include "platform/ml/AlignedMemory.hpp"

#include <cstdlib>
#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace ml {

namespace {

constexpr std::size_t alignment = 64;

constexpr std::size_t hugePage = std::size_t(2) << 20;

// Blocks of a huge page or more start on one, so their whole huge pages can be huge pages.
std::size_t blockAlignment(std::size_t size)
{
    return size >= hugePage ? hugePage : alignment;
}

// Blocks of two huge pages or more fill whole ones, what a block leaves of its last page never
// touched; one of one to two keeps its size, so it takes no more memory than it asked for.
std::size_t sizeUnit(std::size_t size)
{
    return size >= 2 * hugePage ? hugePage : alignment;
}

std::size_t roundedSize(std::size_t bytes)
{
    const std::size_t size = (std::max<std::size_t>(bytes, 1) + alignment - 1) / alignment * alignment;
    const std::size_t unit = sizeUnit(size);
    return (size + unit - 1) / unit * unit;
}

} // namespace

std::shared_ptr<BufferPool> BufferPool::create(std::size_t keptBytes)
{
    return std::shared_ptr<BufferPool>(new BufferPool(keptBytes));
}

BufferPool::~BufferPool()
{
    for (const auto& [size, memory] : free_) {
        AlignedMemory::release(memory, size);
    }
}

namespace {

// Large blocks stream through the programs' loops: huge pages spare the page walks and let the
// prefetchers run past 4 KiB. Only whole huge pages inside the block; the system may refuse.
void adviseHugePages(void* memory, std::size_t size)
{
    const auto begin = (reinterpret_cast<std::uintptr_t>(memory) + hugePage - 1) & ~(hugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(memory) + size) & ~(hugePage - 1);
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
}

} // namespace

std::shared_ptr<void> BufferPool::block(std::size_t bytes)
{
    const std::size_t size = roundedSize(bytes);
    void* memory = nullptr;
    std::size_t blockSize = size;
    {
        std::lock_guard lock(mutex_);
        // The smallest free block that fits, unless it would waste more than half of itself.
        auto it = free_.lower_bound(size);
        if (it != free_.end() && it->first <= 2 * size) {
            blockSize = it->first;
            memory = it->second;
            freeBytes_ -= blockSize;
            free_.erase(it);
        }
    }
    if (!memory) {
        memory = AlignedMemory::allocate(size, blockAlignment(size));
        adviseHugePages(memory, size);
    }
    std::weak_ptr<BufferPool> owner = weak_from_this();
    return std::shared_ptr<void>(memory, [owner, blockSize](void* p) {
        if (auto pool = owner.lock()) {
            pool->giveBack(p, blockSize);
        } else {
            AlignedMemory::release(p, blockSize);
        }
    });
}

void BufferPool::giveBack(void* memory, std::size_t bytes)
{
    std::lock_guard lock(mutex_);
    free_.emplace(bytes, memory);
    freeBytes_ += bytes;
    // Over budget: let the largest blocks go first.
    while (freeBytes_ > keptBytes_ && !free_.empty()) {
        auto largest = std::prev(free_.end());
        freeBytes_ -= largest->first;
        AlignedMemory::release(largest->second, largest->first);
        free_.erase(largest);
    }
}

std::shared_ptr<float> BufferPool::floats(std::size_t count)
{
    auto memory = block(count * sizeof(float));
    return std::shared_ptr<float>(memory, static_cast<float*>(memory.get()));
}

std::shared_ptr<std::uint16_t> BufferPool::halves(std::size_t count)
{
    auto memory = block(count * sizeof(std::uint16_t));
    return std::shared_ptr<std::uint16_t>(memory, static_cast<std::uint16_t*>(memory.get()));
}

MultiArray BufferPool::array(const std::vector<int>& shape, MultiArrayDataType type)
{
    std::size_t count = 1;
    for (int dimension : shape) {
        count *= static_cast<std::size_t>(std::max(dimension, 0));
    }
    auto memory = block(count * elementSize(type));
    void* data = memory.get();
    return MultiArray(std::move(memory), data, shape, type, packedStrides(shape));
}

} // namespace ml
