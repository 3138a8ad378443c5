#pragma once

#include "platform/ml/MultiArray.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/PanelKernels.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ml {

// An encoder output's bytes in the form a cross-attention state keeps them: packed, else as
// float32.
struct SourceBytes {
    SourceBytes() = default;
    SourceBytes(SourceBytes&&) = default;
    SourceBytes& operator=(SourceBytes&&) = default;
    SourceBytes(const SourceBytes&) = delete; // `data` may point into `unpacked`
    static SourceBytes of(const MultiArray& encoderOutput);

    std::vector<float> unpacked;
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    MultiArrayDataType type = MultiArrayDataType::float32;
};

// An encoder output ([1, width, 1, frames]) as cross-attention reads it, in the encoder output's
// precision: `frames` has a row per frame (for the scores), `channels` a row per channel (for the
// heads' mixes of the frames).
struct CrossState {
    struct PooledBytes {
        std::shared_ptr<std::uint16_t> block;
        std::size_t count = 0;
        const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(block.get()); }
        std::size_t size() const { return count; }
    };
    // Packs the encoder output across the pool, into buffers of the pool's.
    static std::shared_ptr<const CrossState> make(const MultiArray& encoderOutput, const SourceBytes& source,
        BufferPool& buffers, ThreadPool& pool);

    MultiArrayDataType sourceType = MultiArrayDataType::float32;
    PooledBytes source; // the encoder output's packed bytes, to recognise it again
    std::shared_ptr<void> storage;
    PanelMatrix frames;
    PanelMatrix channels;
};

// The cross-attention states of the windows decoded lately, the most recently used first,
// recognised by their encoder output's contents: a caller may refill one array for a new window.
// The windows stepping hold their states; of the states no one holds, two are kept for a window
// decoded again (its language detected first, falling back to a higher temperature), and those
// of the windows that stepped without a series, whose caller may step them again next.
class CrossStateCache {
public:
    using Make = std::function<std::shared_ptr<const CrossState>(const MultiArray& encoderOutput, const SourceBytes& source)>;
    // Whether two byte ranges of the given size are equal.
    using Compare = std::function<bool(const unsigned char*, const unsigned char*, std::size_t)>;
    // Keeps at most `kept` states no one holds.
    CrossStateCache(std::size_t kept, Make make, Compare same);

    struct Found {
        std::shared_ptr<const CrossState> state;
        // The state's source agrees with the encoder output at sampled places only: the caller
        // compares the whole, and asks for the right state (replace) when they differ.
        bool needsConfirming = false;
    };
    // A kept state whose source agrees at sampled places, else one made for the encoder output.
    Found find(const MultiArray& encoderOutput, const SourceBytes& source);
    // The state whose source equals the encoder output throughout, made when none is kept.
    std::shared_ptr<const CrossState> replace(const MultiArray& encoderOutput, const SourceBytes& source);
    // Moves the state to the front, keeping it when it was dropped: once a window ends, its state
    // is among the last that go.
    void markUsed(const std::shared_ptr<const CrossState>& state);
    // The windows of the last batch that stepped without a series.
    void setLooseWindows(std::size_t windows) { looseWindows_.store(windows, std::memory_order_relaxed); }
    std::size_t size() const;

private:
    std::size_t unheldToKeep() const;
    // Under mutex_.
    void dropUnheld(std::size_t kept);
    template<typename Match>
    std::shared_ptr<const CrossState> takeToFront(Match&& matches);

    const std::size_t kept_;
    const Make make_;
    const Compare same_;
    std::atomic<std::size_t> looseWindows_ {0};
    mutable std::mutex mutex_;
    std::deque<std::shared_ptr<const CrossState>> states_;
};

} // namespace ml
