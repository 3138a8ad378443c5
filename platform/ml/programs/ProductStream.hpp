#pragma once

#include "platform/ml/programs/TransformerWeights.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <cstddef>
#include <memory>
#include <vector>

namespace ml {

// The weights of a sequence of matrix-vector loops, copied once into one buffer in the order the
// threads read them. Loop p stacks the rows of its products and cuts them into `ranges` ranges on
// whole cache lines of the outputs; range r is run by slot r % threads of a pinned loop (see
// ThreadPool::parallelForPinned). Each slot's ranges of all loops lie back to back, so a thread
// streams one stretch of memory from the first loop to the last: the hardware prefetchers keep
// running across the loops instead of starting again on every range. The buffer asks for huge pages.
class ProductStream {
public:
    // Rows [first, first + rows) of product `product` of a loop, stored row-major at `data`.
    struct Slice {
        std::size_t product = 0;
        std::size_t first = 0;
        WeightMatrix matrix;
    };

    ProductStream() = default;
    ProductStream(const std::vector<std::vector<const LinearWeights*>>& loops, std::size_t ranges, std::size_t threads,
        ThreadPool& pool);

    std::size_t ranges() const { return ranges_; }
    const std::vector<Slice>& slices(std::size_t loop, std::size_t range) const { return slices_[loop * ranges_ + range]; }

private:
    std::size_t ranges_ = 0;
    std::shared_ptr<void> buffer_;
    std::vector<std::vector<Slice>> slices_; // [loop * ranges + range]
};

} // namespace ml
