#pragma once

#include "platform/ml/MultiArray.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace ml {

// Keeps large blocks for reuse between predictions. Fresh memory costs a page fault per page on
// first touch, which for the buffers of one encoder window adds up to more than the arithmetic.
// Blocks come back when their last holder lets go, also blocks handed out inside output arrays;
// blocks released after the pool is gone are simply freed.
class BufferPool : public std::enable_shared_from_this<BufferPool> {
public:
    static std::shared_ptr<BufferPool> create(std::size_t keptBytes = std::size_t(1) << 30);

    // 64-byte aligned, uninitialised storage for `count` elements.
    std::shared_ptr<float> floats(std::size_t count);
    std::shared_ptr<std::uint16_t> halves(std::size_t count);
    // A packed array of that shape whose elements are uninitialised.
    MultiArray array(const std::vector<int>& shape, MultiArrayDataType type);

    ~BufferPool();

private:
    explicit BufferPool(std::size_t keptBytes) : keptBytes_(keptBytes) {}
    std::shared_ptr<void> block(std::size_t bytes);
    void giveBack(void* memory, std::size_t bytes);

    std::mutex mutex_;
    std::multimap<std::size_t, void*> free_;
    std::size_t freeBytes_ = 0;
    std::size_t keptBytes_;
};

} // namespace ml
