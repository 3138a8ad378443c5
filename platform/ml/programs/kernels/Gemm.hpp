#pragma once

#include "platform/ml/programs/kernels/CpuFeatures.hpp"

#include <functional>
#include <memory>
#include <vector>

namespace ml {

class BufferPool;
class ThreadPool;

struct GemmTile {
    int rowBegin = 0;
    int rowEnd = 0;
    int columnBegin = 0;
    int columnEnd = 0;
};

// Runs on the thread that computed a tile, right after it, while the tile is still in cache.
using TileEpilogue = std::function<void(const GemmTile& tile)>;
// Runs once rows [rowBegin, rowEnd) of C are complete in every column, on the thread that
// finished their last tile: row-wise work (a layer norm) on rows still in the caches.
using RowsEpilogue = std::function<void(int rowBegin, int rowEnd)>;

// The second factor B of a product as it is stored: rows of [n x k] when `transposed` (weights,
// keys), else [k x n] (values); float32 or float16 elements, rows `ld` elements apart.
struct GemmOperand {
    const void* data = nullptr;
    bool isHalf = false;
    bool transposed = true;
    int ld = 0;
};

// B rearranged once into what a kernel set's micro-kernel reads: float32 panels of a few columns
// each, k rows deep, zero beyond n. The portable set keeps a float32 matrix in the stored layout
// for the BLAS library. Shared by every tile of the products that use it.
class PackedOperand {
public:
    // Packs over the pool's threads when one is given; from the buffer pool when one is given.
    PackedOperand(KernelSet set, const GemmOperand& operand, int n, int k, ThreadPool* pool = nullptr,
        BufferPool* buffers = nullptr);
    // Several operands side by side along n (parts[i] has columns[i] columns), all of depth k and
    // one layout: the stacked projections of attention.
    PackedOperand(KernelSet set, const std::vector<GemmOperand>& parts, const std::vector<int>& columns, int k,
        ThreadPool* pool = nullptr, BufferPool* buffers = nullptr);

    // Packed once to serve many products: float16 parts stay float16 in the panels (half the
    // bytes, widened by the micro-kernels as they read them), so the copy takes no more memory
    // than the stored weights. The portable set widens them to float32 as always.
    static PackedOperand keepingPrecision(KernelSet set, const std::vector<GemmOperand>& parts, const std::vector<int>& columns,
        int k, ThreadPool* pool = nullptr);

    KernelSet kernelSet() const { return set_; }
    int n() const { return n_; }
    int k() const { return k_; }
    // The columns of one panel (0 for the portable set).
    int panelWidth() const { return panelWidth_; }
    // Whether the panels hold float16 elements (else float32).
    bool halfPanels() const { return halfPanels_; }
    // Row `depth` of panel `index`.
    const void* panel(int index, int depth) const;
    // The portable set's matrix.
    const float* matrix() const { return static_cast<const float*>(data_); }
    bool transposed() const { return transposed_; }
    int ld() const { return ld_; }

private:
    PackedOperand(KernelSet set, const std::vector<GemmOperand>& parts, const std::vector<int>& columns, int k, ThreadPool* pool,
        BufferPool* buffers, bool keepHalves);

    KernelSet set_;
    int n_ = 0;
    int k_ = 0;
    int panelWidth_ = 0;
    bool transposed_ = true;
    bool halfPanels_ = false;
    int ld_ = 0;
    std::shared_ptr<void> storage_;
    const void* data_ = nullptr;
};

// C[m x n] = alpha * A[m x k] * B + beta * C with A and C row-major, B packed for k rows; spread
// over the pool in tiles when one is given, else on the calling thread. The tile epilogue sees each
// tile once, after its last addition; the rows epilogue each band of rows after its tiles'
// epilogues.
void gemm(ThreadPool* pool, int m, int n, int k, float alpha, const float* a, int lda, const PackedOperand& b, float beta,
    float* c, int ldc, const TileEpilogue& epilogue = {}, const RowsEpilogue& rowsDone = {});

} // namespace ml
