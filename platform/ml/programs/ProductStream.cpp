#include "platform/ml/programs/ProductStream.hpp"

#include "platform/ml/ModelError.hpp"

#include <algorithm>
#include <sys/mman.h>

namespace ml {

namespace {

constexpr std::size_t hugePage = std::size_t(2) << 20;

constexpr std::size_t panelRows = PanelMatrix::panelRows;

} // namespace

ProductStream::ProductStream(const std::vector<std::vector<const LinearWeights*>>& loops, std::size_t ranges,
    std::size_t threads, ThreadPool& pool)
    : ranges_(ranges)
    , chunkRows_(loops.size(), 16)
    , chunks_(loops.size(), std::vector<std::uint16_t>(ranges))
    , slices_(loops.size() * ranges)
{
    struct Planned {
        std::size_t index; // into slices_
        std::size_t product;
        std::size_t first;
        std::size_t rows;
        WeightMatrix source;
        std::size_t offset;
        std::size_t bytes;
    };
    std::vector<Planned> plan;
    std::size_t size = 0;
    for (std::size_t slot = 0; slot < threads; ++slot) {
        for (std::size_t loop = 0; loop < loops.size(); ++loop) {
            std::size_t total = 0;
            for (const LinearWeights* layer : loops[loop]) {
                total += static_cast<std::size_t>(layer->outputs());
            }
            const std::size_t lines = (total + 15) / 16;
            if (!loops[loop].empty()) {
                const WeightMatrix first = loops[loop].front()->matrix();
                const std::size_t panelBytes = PanelMatrix::bytes(static_cast<int>(panelRows), first.columns, first.isHalf);
                chunkRows_[loop] = panelRows * std::max<std::size_t>(1, (chunkBytes + panelBytes / 2) / panelBytes);
            }
            for (std::size_t r = slot; r < ranges; r += threads) {
                const std::size_t begin = std::min(total, lines * r / ranges * 16);
                const std::size_t end = std::min(total, lines * (r + 1) / ranges * 16);
                const std::size_t chunks = (end - begin + chunkRows_[loop] - 1) / chunkRows_[loop];
                if (chunks > ThreadPool::maximumChunks) {
                    throw ModelError("a product too large for its loop");
                }
                chunks_[loop][r] = static_cast<std::uint16_t>(chunks);
                std::size_t stacked = 0;
                for (std::size_t p = 0; p < loops[loop].size(); ++p) {
                    const WeightMatrix matrix = loops[loop][p]->matrix();
                    const std::size_t rows = static_cast<std::size_t>(matrix.rows);
                    const std::size_t from = std::max(begin, stacked);
                    const std::size_t to = std::min(end, stacked + rows);
                    if (from < to) {
                        const std::size_t bytes = PanelMatrix::bytes(static_cast<int>(to - from), matrix.columns, matrix.isHalf);
                        size = (size + 63) / 64 * 64;
                        plan.push_back({loop * ranges + r, p, from - stacked, to - from, matrix, size, bytes});
                        size += bytes;
                    }
                    stacked += rows;
                }
            }
        }
    }
    const std::size_t mapped = std::max<std::size_t>(hugePage, (size + hugePage - 1) / hugePage * hugePage);
    void* address = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED) {
        throw ModelError("no memory for a copy of the weights");
    }
    buffer_ = std::shared_ptr<void>(address, [mapped](void* p) { ::munmap(p, mapped); });
    // Fewer page walks, and prefetchers that do not stop at every 4 KiB; the system may refuse.
    ::madvise(address, mapped, MADV_HUGEPAGE);
    auto* base = static_cast<unsigned char*>(address);
    for (const Planned& piece : plan) {
        slices_[piece.index].push_back({piece.product, piece.first,
            PanelMatrix {base + piece.offset, piece.source.isHalf, static_cast<int>(piece.rows), piece.source.columns}});
    }
    pool.parallelFor(plan.size(), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const Planned& piece = plan[i];
            packPanels(piece.source, static_cast<int>(piece.first), static_cast<int>(piece.rows), base + piece.offset);
        }
    });
}

bool ProductStream::readRow(std::size_t loop, std::size_t product, std::size_t row, float* values) const
{
    for (std::size_t range = 0; range < ranges_; ++range) {
        for (const Slice& slice : slices(loop, range)) {
            if (slice.product == product && row >= slice.first && row < slice.first + static_cast<std::size_t>(slice.matrix.rows)) {
                for (int c = 0; c < slice.matrix.columns; ++c) {
                    values[c] = slice.matrix.at(static_cast<int>(row - slice.first), c);
                }
                return true;
            }
        }
    }
    return false;
}

} // namespace ml
