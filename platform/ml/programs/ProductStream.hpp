#pragma once

#include "platform/ml/programs/TransformerWeights.hpp"
#include "platform/ml/programs/kernels/PanelKernels.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace ml {

// The weights of a sequence of matrix-vector loops, copied once into one buffer in the order the
// threads read them. Loop p stacks the rows of its products and cuts them into `ranges` ranges on
// whole cache lines of the outputs; range r is first run by slot r % threads (see
// ThreadPool::parallelForSequence). Each slot's ranges of all loops lie back to back, so a thread
// streams one stretch of memory from the first loop to the last: the hardware prefetchers keep
// running across the loops instead of starting again on every range. The rows are kept in panels
// (see PanelMatrix), and the buffer asks for huge pages.
class ProductStream {
public:
    // Rows [first, first + rows) of product `product` of a loop.
    struct Slice {
        std::size_t product = 0;
        std::size_t first = 0;
        PanelMatrix matrix;
    };

    ProductStream() = default;
    ProductStream(const std::vector<std::vector<const LinearWeights*>>& loops, std::size_t ranges, std::size_t threads,
        ThreadPool& pool);

    std::size_t ranges() const { return ranges_; }
    const std::vector<Slice>& slices(std::size_t loop, std::size_t range) const { return slices_[loop * ranges_ + range]; }

    // Each range's rows of a loop cut into chunks of whole panels, about chunkBytes of weights
    // each: the chunk count of every range, for ThreadPool::parallelForSequence.
    const std::vector<std::uint16_t>& chunks(std::size_t loop) const { return chunks_[loop]; }
    // Calls visit(slice, rowBegin, rowEnd) for the rows of the slices of (loop, range) that chunks
    // [begin, end) cover, rows counted within each slice.
    template<typename Visit>
    void forChunks(std::size_t loop, std::size_t range, std::size_t begin, std::size_t end, Visit&& visit) const
    {
        const std::size_t from = begin * chunkRows_[loop];
        const std::size_t to = end * chunkRows_[loop];
        std::size_t at = 0;
        for (const Slice& slice : slices(loop, range)) {
            const std::size_t rows = static_cast<std::size_t>(slice.matrix.rows);
            if (from < at + rows && at < to) {
                visit(slice, std::max(from, at) - at, std::min(to, at + rows) - at);
            }
            at += rows;
        }
    }

    // The weights chunks [begin, end) of (loop, range) read, as (first byte, byte count); they lie
    // back to back.
    std::pair<const void*, std::size_t> chunkMemory(std::size_t loop, std::size_t range, std::size_t begin, std::size_t end) const
    {
        const unsigned char* first = nullptr;
        const unsigned char* last = nullptr;
        forChunks(loop, range, begin, end, [&](const Slice& slice, std::size_t from, std::size_t to) {
            const PanelMatrix& matrix = slice.matrix;
            const auto* data = static_cast<const unsigned char*>(matrix.data);
            first = first ? first : data + PanelMatrix::bytes(static_cast<int>(from), matrix.columns, matrix.isHalf);
            last = data + PanelMatrix::bytes(static_cast<int>(to), matrix.columns, matrix.isHalf);
        });
        return {first, first ? static_cast<std::size_t>(last - first) : 0};
    }

    // Row `row` of product `product` of a loop into `values` (columns floats); false where no
    // range holds it.
    bool readRow(std::size_t loop, std::size_t product, std::size_t row, float* values) const;

    static constexpr std::size_t chunkBytes = 16 << 10;

private:
    std::size_t ranges_ = 0;
    std::vector<std::size_t> chunkRows_; // [loop]
    std::vector<std::vector<std::uint16_t>> chunks_; // [loop][range]
    std::shared_ptr<void> buffer_;
    std::vector<std::vector<Slice>> slices_; // [loop * ranges + range]
};

} // namespace ml
