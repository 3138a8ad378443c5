#include "platform/ml/programs/kernels/Gemm.hpp"

#include "platform/ml/AlignedMemory.hpp"
#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <cblas.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace ml {

namespace {

// The micro-kernels keep an R x NR block of C in registers over a stretch of k: rows of A are
// broadcast straight from memory (no packing of A), a panel row of B is two vector loads per step.
// A stretch of k is short enough for the panels of a tile to stay in the second-level cache while
// every row block of the tile passes over them.
struct Geometry {
    int rows; // MR
    int columns; // NR
    int depth; // KC at most; k is cut into stretches of equal length
};

constexpr Geometry wideGeometry {14, 32, 384};
constexpr Geometry vectorGeometry {6, 16, 256};

Geometry geometry(KernelSet set)
{
    return set == KernelSet::avx512 ? wideGeometry : vectorGeometry;
}

// Where the k elements of one column of B lie: element kk at base + kk * step; no base for the
// zero columns past n.
struct ColumnSource {
    const void* base = nullptr;
    bool isHalf = false;
    std::size_t step = 0;

    float at(std::size_t kk) const
    {
        return isHalf ? Float16::toFloat(static_cast<const std::uint16_t*>(base)[kk * step])
                      : static_cast<const float*>(base)[kk * step];
    }
};

void packColumnPlain(const ColumnSource& source, int k, int width, float* out)
{
    for (int kk = 0; kk < k; ++kk) {
        out[static_cast<std::size_t>(kk) * static_cast<std::size_t>(width)] = source.base ? source.at(static_cast<std::size_t>(kk)) : 0.0f;
    }
}

#ifdef ML_HAS_X86

ML_VECTOR_TARGET inline __m256 load8(const float* p) { return _mm256_loadu_ps(p); }
ML_VECTOR_TARGET inline __m256 load8(const std::uint16_t* p)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Eight rows of eight elements each, transposed into eight columns of a panel.
ML_VECTOR_TARGET inline void transpose8(__m256 r[8], float* out, std::size_t stride)
{
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 s0 = _mm256_shuffle_ps(t0, t2, 0x44), s1 = _mm256_shuffle_ps(t0, t2, 0xee);
    const __m256 s2 = _mm256_shuffle_ps(t1, t3, 0x44), s3 = _mm256_shuffle_ps(t1, t3, 0xee);
    const __m256 s4 = _mm256_shuffle_ps(t4, t6, 0x44), s5 = _mm256_shuffle_ps(t4, t6, 0xee);
    const __m256 s6 = _mm256_shuffle_ps(t5, t7, 0x44), s7 = _mm256_shuffle_ps(t5, t7, 0xee);
    _mm256_storeu_ps(out + 0 * stride, _mm256_permute2f128_ps(s0, s4, 0x20));
    _mm256_storeu_ps(out + 1 * stride, _mm256_permute2f128_ps(s1, s5, 0x20));
    _mm256_storeu_ps(out + 2 * stride, _mm256_permute2f128_ps(s2, s6, 0x20));
    _mm256_storeu_ps(out + 3 * stride, _mm256_permute2f128_ps(s3, s7, 0x20));
    _mm256_storeu_ps(out + 4 * stride, _mm256_permute2f128_ps(s0, s4, 0x31));
    _mm256_storeu_ps(out + 5 * stride, _mm256_permute2f128_ps(s1, s5, 0x31));
    _mm256_storeu_ps(out + 6 * stride, _mm256_permute2f128_ps(s2, s6, 0x31));
    _mm256_storeu_ps(out + 7 * stride, _mm256_permute2f128_ps(s3, s7, 0x31));
}

template<typename Element>
ML_VECTOR_TARGET void packRowsVector(const ColumnSource* sources, int k, int width, float* out)
{
    const Element* rows[8];
    for (int i = 0; i < 8; ++i) {
        rows[i] = static_cast<const Element*>(sources[i].base);
    }
    const int vectorDepth = k & ~7;
    for (int kk = 0; kk < vectorDepth; kk += 8) {
        __m256 r[8];
        for (int i = 0; i < 8; ++i) {
            r[i] = load8(rows[i] + kk);
        }
        transpose8(r, out + static_cast<std::size_t>(kk) * static_cast<std::size_t>(width), static_cast<std::size_t>(width));
    }
    for (int kk = vectorDepth; kk < k; ++kk) {
        for (int i = 0; i < 8; ++i) {
            out[static_cast<std::size_t>(kk) * static_cast<std::size_t>(width) + i] = sources[i].at(static_cast<std::size_t>(kk));
        }
    }
}

template<typename Element>
ML_VECTOR_TARGET void packStretchVector(const ColumnSource& first, int k, int width, float* out)
{
    const auto* row = static_cast<const Element*>(first.base);
    for (int kk = 0; kk < k; ++kk) {
        _mm256_storeu_ps(out + static_cast<std::size_t>(kk) * static_cast<std::size_t>(width), load8(row));
        row += first.step;
    }
}

// Eight columns at a time: eight rows of a [n x k] operand transposed together, or eight
// neighbouring columns of a [k x n] one copied row by row; anything else column by column.
ML_VECTOR_TARGET void packPanelVector(const ColumnSource* sources, int k, int width, float* panel)
{
    for (int group = 0; group < width; group += 8) {
        const ColumnSource* s = sources + group;
        bool alike = true, rows = true, stretch = true;
        const std::size_t size = s[0].isHalf ? 2 : 4;
        for (int i = 0; i < 8 && alike; ++i) {
            alike = s[i].base && s[i].isHalf == s[0].isHalf && s[i].step == s[0].step;
            rows = rows && s[i].step == 1;
            stretch = stretch && alike
                && static_cast<const char*>(s[i].base) == static_cast<const char*>(s[0].base) + static_cast<std::size_t>(i) * size;
        }
        float* out = panel + group;
        if (alike && rows) {
            s[0].isHalf ? packRowsVector<std::uint16_t>(s, k, width, out) : packRowsVector<float>(s, k, width, out);
        } else if (alike && stretch) {
            s[0].isHalf ? packStretchVector<std::uint16_t>(s[0], k, width, out) : packStretchVector<float>(s[0], k, width, out);
        } else {
            for (int i = 0; i < 8; ++i) {
                packColumnPlain(s[i], k, width, out + i);
            }
        }
    }
}

// Stores one row of a block: C = alpha * acc + beta * C, beta 0 leaving C unread.
ML_WIDE_TARGET inline void storeWide(float* c, __m512 acc, __mmask16 mask, __m512 alpha, float beta)
{
    __m512 v = _mm512_mul_ps(acc, alpha);
    if (beta != 0.0f) {
        v = _mm512_fmadd_ps(_mm512_set1_ps(beta), _mm512_maskz_loadu_ps(mask, c), v);
    }
    _mm512_mask_storeu_ps(c, mask, v);
}

ML_WIDE_TARGET inline __m512 load16(const float* p) { return _mm512_loadu_ps(p); }
ML_WIDE_TARGET inline __m512 load16(const std::uint16_t* p)
{
    return _mm512_maskz_cvtph_ps(__mmask16(0xffff), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

template<int R, typename Element>
ML_WIDE_TARGET void wideKernel(int kc, const float* a, std::size_t lda, const void* panel, float* c, std::size_t ldc, int columns,
    float alpha, float beta)
{
    const auto* b = static_cast<const Element*>(panel);
    __m512 acc[R][2];
#pragma GCC unroll 14
    for (int r = 0; r < R; ++r) {
        acc[r][0] = _mm512_setzero_ps();
        acc[r][1] = _mm512_setzero_ps();
    }
    for (int p = 0; p < kc; ++p) {
        const __m512 b0 = load16(b);
        const __m512 b1 = load16(b + 16);
        b += 32;
#pragma GCC unroll 14
        for (int r = 0; r < R; ++r) {
            const __m512 av = _mm512_set1_ps(a[r * lda + static_cast<std::size_t>(p)]);
            acc[r][0] = _mm512_fmadd_ps(av, b0, acc[r][0]);
            acc[r][1] = _mm512_fmadd_ps(av, b1, acc[r][1]);
        }
    }
    const __m512 alphaV = _mm512_set1_ps(alpha);
    const __mmask16 mask0 = columns >= 16 ? __mmask16(0xffff) : __mmask16((1u << columns) - 1);
    const __mmask16 mask1 = columns >= 32 ? __mmask16(0xffff) : columns <= 16 ? __mmask16(0) : __mmask16((1u << (columns - 16)) - 1);
#pragma GCC unroll 14
    for (int r = 0; r < R; ++r) {
        storeWide(c + r * ldc, acc[r][0], mask0, alphaV, beta);
        storeWide(c + r * ldc + 16, acc[r][1], mask1, alphaV, beta);
    }
}

template<int R, typename Element>
ML_VECTOR_TARGET void vectorKernel(int kc, const float* a, std::size_t lda, const void* panel, float* c, std::size_t ldc,
    int columns, float alpha, float beta)
{
    const auto* b = static_cast<const Element*>(panel);
    __m256 acc[R][2];
#pragma GCC unroll 6
    for (int r = 0; r < R; ++r) {
        acc[r][0] = _mm256_setzero_ps();
        acc[r][1] = _mm256_setzero_ps();
    }
    for (int p = 0; p < kc; ++p) {
        const __m256 b0 = load8(b);
        const __m256 b1 = load8(b + 8);
        b += 16;
#pragma GCC unroll 6
        for (int r = 0; r < R; ++r) {
            const __m256 av = _mm256_broadcast_ss(a + r * lda + static_cast<std::size_t>(p));
            acc[r][0] = _mm256_fmadd_ps(av, b0, acc[r][0]);
            acc[r][1] = _mm256_fmadd_ps(av, b1, acc[r][1]);
        }
    }
    const __m256 alphaV = _mm256_set1_ps(alpha);
    const __m256 betaV = _mm256_set1_ps(beta);
#pragma GCC unroll 6
    for (int r = 0; r < R; ++r) {
        float* row = c + r * ldc;
        __m256 v0 = _mm256_mul_ps(acc[r][0], alphaV);
        __m256 v1 = _mm256_mul_ps(acc[r][1], alphaV);
        if (columns == 16) {
            if (beta != 0.0f) {
                v0 = _mm256_fmadd_ps(betaV, _mm256_loadu_ps(row), v0);
                v1 = _mm256_fmadd_ps(betaV, _mm256_loadu_ps(row + 8), v1);
            }
            _mm256_storeu_ps(row, v0);
            _mm256_storeu_ps(row + 8, v1);
        } else {
            alignas(32) float block[16];
            _mm256_store_ps(block, v0);
            _mm256_store_ps(block + 8, v1);
            for (int j = 0; j < columns; ++j) {
                row[j] = beta != 0.0f ? block[j] + beta * row[j] : block[j];
            }
        }
    }
}

using MicroKernel = void (*)(int, const float*, std::size_t, const void*, float*, std::size_t, int, float, float);

// Indexed by the rows of the block.
template<typename Element>
constexpr MicroKernel wideKernels[] = {nullptr, &wideKernel<1, Element>, &wideKernel<2, Element>, &wideKernel<3, Element>,
    &wideKernel<4, Element>, &wideKernel<5, Element>, &wideKernel<6, Element>, &wideKernel<7, Element>, &wideKernel<8, Element>,
    &wideKernel<9, Element>, &wideKernel<10, Element>, &wideKernel<11, Element>, &wideKernel<12, Element>,
    &wideKernel<13, Element>, &wideKernel<14, Element>};
template<typename Element>
constexpr MicroKernel vectorKernels[] = {nullptr, &vectorKernel<1, Element>, &vectorKernel<2, Element>,
    &vectorKernel<3, Element>, &vectorKernel<4, Element>, &vectorKernel<5, Element>, &vectorKernel<6, Element>};

const MicroKernel* microKernels(KernelSet set, bool halfPanels)
{
    if (set == KernelSet::avx512) {
        return halfPanels ? wideKernels<std::uint16_t> : wideKernels<float>;
    }
    return halfPanels ? vectorKernels<std::uint16_t> : vectorKernels<float>;
}

#endif

// Rows and columns of a tile. The tiles of a product are shared out in rounds of one per thread,
// so the product takes about rounds x (time of one tile); bigger tiles reuse each panel of B and
// each row of A over more of the other, which the penalty terms stand for. The shape with the
// least estimated time wins.
struct TileSize {
    int rows;
    int columns;
};

TileSize tileSize(const Geometry& g, int m, int n, int threads)
{
    TileSize best {g.rows * 8, g.columns * 8};
    if (threads <= 1) {
        return best;
    }
    double bestTime = 0;
    for (int rowPanels = 2; rowPanels <= 8; ++rowPanels) {
        for (int columnPanels = 1; columnPanels <= 8; ++columnPanels) {
            const int rows = rowPanels * g.rows;
            const int columns = columnPanels * g.columns;
            const long tiles = static_cast<long>((m + rows - 1) / rows) * static_cast<long>((n + columns - 1) / columns);
            const long rounds = (tiles + threads - 1) / threads;
            const double tileTime = static_cast<double>(std::min(rows, m)) * std::min(columns, n)
                * (1.0 + 0.5 * g.rows / rows + 0.5 * g.columns / columns);
            const double time = static_cast<double>(rounds) * tileTime;
            if (bestTime == 0 || time < bestTime * 0.999) {
                bestTime = time;
                best = {rows, columns};
            }
        }
    }
    return best;
}

// Whether the rows of a block, `stride` floats apart, crowd into few sets of the first-level
// cache (64 sets of 64-byte lines): strides of a multiple of 1024 floats put every row in one.
bool crowdsCacheSets(std::size_t stride, int rows)
{
    int perSet[64] = {};
    for (int r = 0; r < rows; ++r) {
        if (++perSet[(static_cast<std::size_t>(r) * stride * sizeof(float) / 64) % 64] > 4) {
            return true;
        }
    }
    return false;
}

// One tile through the micro-kernels, stretch of k by stretch of k. Rows of A whose stride would
// crowd the cache are first copied to a stride that spreads them.
void runTile(KernelSet set, const GemmTile& tile, int k, float alpha, const float* a, int lda, const PackedOperand& b, float beta,
    float* c, int ldc)
{
#ifdef ML_HAS_X86
    const Geometry g = geometry(set);
    const MicroKernel* kernels = microKernels(set, b.halfPanels());
    const std::size_t strideC = static_cast<std::size_t>(ldc);
    const bool copyRows = crowdsCacheSets(static_cast<std::size_t>(lda), g.rows);
    const int stretches = std::max(1, (k + g.depth - 1) / g.depth);
    const int stretch = (k + stretches - 1) / stretches;
    const std::size_t copyStride = static_cast<std::size_t>(stretch) + 16;
    thread_local std::vector<float> copied;
    if (copyRows) {
        copied.resize(static_cast<std::size_t>(tile.rowEnd - tile.rowBegin) * copyStride);
    }
    for (int depth = 0; depth < k || depth == 0; depth += stretch) {
        const int kc = std::min(stretch, k - depth);
        const float blockBeta = depth == 0 ? beta : 1.0f;
        const float* rowsA = a + static_cast<std::size_t>(tile.rowBegin) * static_cast<std::size_t>(lda) + static_cast<std::size_t>(depth);
        std::size_t strideA = static_cast<std::size_t>(lda);
        if (copyRows) {
            for (int r = 0; r < tile.rowEnd - tile.rowBegin; ++r) {
                std::copy_n(rowsA + static_cast<std::size_t>(r) * strideA, kc, copied.data() + static_cast<std::size_t>(r) * copyStride);
            }
            rowsA = copied.data();
            strideA = copyStride;
        }
        for (int row = tile.rowBegin; row < tile.rowEnd; row += g.rows) {
            const int rows = std::min(g.rows, tile.rowEnd - row);
            const MicroKernel kernel = kernels[rows];
            const float* aBlock = rowsA + static_cast<std::size_t>(row - tile.rowBegin) * strideA;
            for (int column = tile.columnBegin; column < tile.columnEnd; column += g.columns) {
                const void* panel = b.panel(column / g.columns, depth);
                kernel(kc, aBlock, strideA, panel, c + static_cast<std::size_t>(row) * strideC + static_cast<std::size_t>(column),
                    strideC, std::min(g.columns, tile.columnEnd - column), alpha, blockBeta);
            }
        }
        if (k == 0) {
            break;
        }
    }
#else
    (void)set, (void)tile, (void)k, (void)alpha, (void)a, (void)lda, (void)b, (void)beta, (void)c, (void)ldc;
#endif
}

void runPortableTile(const GemmTile& tile, int k, float alpha, const float* a, int lda, const PackedOperand& b, float beta,
    float* c, int ldc)
{
    static const bool singleThreaded = [] {
        // BLAS's own threads would compete with the pools for the cores.
        openblas_set_num_threads(1);
        return true;
    }();
    (void)singleThreaded;
    const int rows = tile.rowEnd - tile.rowBegin;
    const int columns = tile.columnEnd - tile.columnBegin;
    const float* tileA = a + static_cast<std::size_t>(tile.rowBegin) * static_cast<std::size_t>(lda);
    // BLAS takes no overlapping rows (the windows of a convolution): those are copied apart.
    std::vector<float> windows;
    if (lda < k) {
        windows.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(k));
        for (int r = 0; r < rows; ++r) {
            std::copy_n(tileA + static_cast<std::size_t>(r) * static_cast<std::size_t>(lda), k,
                windows.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(k));
        }
        tileA = windows.data();
        lda = k;
    }
    float* tileC = c + static_cast<std::size_t>(tile.rowBegin) * static_cast<std::size_t>(ldc) + tile.columnBegin;
    const std::size_t ldb = static_cast<std::size_t>(b.ld());
    if (k == 0) {
        for (int r = 0; r < rows; ++r) {
            for (int j = 0; j < columns; ++j) {
                float& value = tileC[static_cast<std::size_t>(r) * static_cast<std::size_t>(ldc) + j];
                value = beta == 0.0f ? 0.0f : beta * value;
            }
        }
        return;
    }
    if (b.transposed()) {
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, rows, columns, k, alpha, tileA, lda,
            b.matrix() + static_cast<std::size_t>(tile.columnBegin) * ldb, b.ld(), beta, tileC, ldc);
    } else {
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, rows, columns, k, alpha, tileA, lda, b.matrix() + tile.columnBegin,
            b.ld(), beta, tileC, ldc);
    }
}

template<typename Element>
std::shared_ptr<Element> allocate(std::size_t count, BufferPool* buffers)
{
    const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(Element);
    if (buffers) {
        if constexpr (std::is_same_v<Element, float>) {
            return buffers->floats(count);
        } else {
            return buffers->halves(count);
        }
    }
    void* memory = AlignedMemory::allocate(bytes, 64);
    return std::shared_ptr<Element>(static_cast<Element*>(memory), [bytes](Element* p) { AlignedMemory::release(p, bytes); });
}

void forEach(ThreadPool* pool, std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& body)
{
    if (pool) {
        pool->parallelFor(count, grain, body);
    } else if (count > 0) {
        body(0, count);
    }
}

} // namespace

PackedOperand::PackedOperand(KernelSet set, const GemmOperand& operand, int n, int k, ThreadPool* pool, BufferPool* buffers)
    : PackedOperand(set, std::vector<GemmOperand> {operand}, std::vector<int> {n}, k, pool, buffers)
{
}

PackedOperand::PackedOperand(KernelSet set, const std::vector<GemmOperand>& parts, const std::vector<int>& columns, int k,
    ThreadPool* pool, BufferPool* buffers)
    : PackedOperand(set, parts, columns, k, pool, buffers, false)
{
}

PackedOperand PackedOperand::keepingPrecision(KernelSet set, const std::vector<GemmOperand>& parts, const std::vector<int>& columns,
    int k, ThreadPool* pool)
{
    return PackedOperand(set, parts, columns, k, pool, nullptr, true);
}

PackedOperand::PackedOperand(KernelSet set, const std::vector<GemmOperand>& parts, const std::vector<int>& columns, int k,
    ThreadPool* pool, BufferPool* buffers, bool keepHalves)
    : set_(supportsKernelSet(set) ? set : KernelSet::portable)
    , k_(k)
    , transposed_(parts.empty() || parts.front().transposed)
{
    if (parts.size() != columns.size()) {
        throw std::invalid_argument("PackedOperand: one column count per part");
    }
    std::vector<int> firstColumns;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        if (parts[p].transposed != transposed_) {
            throw std::invalid_argument("PackedOperand: the parts must share one layout");
        }
        firstColumns.push_back(n_);
        n_ += columns[p];
    }
    // Column j of the stacked operand.
    const auto source = [&](int j) {
        ColumnSource s;
        if (j >= n_) {
            return s;
        }
        const std::size_t p = static_cast<std::size_t>(std::upper_bound(firstColumns.begin(), firstColumns.end(), j) - firstColumns.begin() - 1);
        const GemmOperand& part = parts[p];
        const std::size_t local = static_cast<std::size_t>(j - firstColumns[p]);
        const std::size_t size = part.isHalf ? 2 : 4;
        s.isHalf = part.isHalf;
        s.step = transposed_ ? 1 : static_cast<std::size_t>(part.ld);
        s.base = static_cast<const char*>(part.data) + (transposed_ ? local * static_cast<std::size_t>(part.ld) : local) * size;
        return s;
    };

    if (set_ == KernelSet::portable) {
        if (parts.size() == 1 && !parts.front().isHalf) {
            data_ = static_cast<const float*>(parts.front().data);
            ld_ = parts.front().ld;
            return;
        }
        // One float32 matrix in the stored layout: [n][k] or [k][n], rows packed.
        ld_ = transposed_ ? k : n_;
        auto floats = allocate<float>(static_cast<std::size_t>(n_) * static_cast<std::size_t>(k), buffers);
        storage_ = floats;
        float* destination = floats.get();
        forEach(pool, static_cast<std::size_t>(n_), 64, [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j) {
                const ColumnSource s = source(static_cast<int>(j));
                for (int kk = 0; kk < k; ++kk) {
                    destination[transposed_ ? j * static_cast<std::size_t>(k) + static_cast<std::size_t>(kk)
                                            : static_cast<std::size_t>(kk) * static_cast<std::size_t>(n_) + j]
                        = s.at(static_cast<std::size_t>(kk));
                }
            }
        });
        data_ = floats.get();
        return;
    }

    panelWidth_ = geometry(set_).columns;
    const int panels = (n_ + panelWidth_ - 1) / panelWidth_;
    const std::size_t panelSize = static_cast<std::size_t>(panelWidth_) * static_cast<std::size_t>(k);
    const int width = panelWidth_;
    halfPanels_ = keepHalves && !parts.empty()
        && std::all_of(parts.begin(), parts.end(), [](const GemmOperand& part) { return part.isHalf; });
    if (halfPanels_) {
        // The stored bits as they are, zero past n.
        auto halves = allocate<std::uint16_t>(static_cast<std::size_t>(panels) * panelSize, nullptr);
        std::uint16_t* destination = halves.get();
        forEach(pool, static_cast<std::size_t>(panels), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t p = begin; p < end; ++p) {
                std::uint16_t* out = destination + p * panelSize;
                for (int c = 0; c < width; ++c) {
                    const ColumnSource s = source(static_cast<int>(p) * width + c);
                    const auto* column = static_cast<const std::uint16_t*>(s.base);
                    for (int kk = 0; kk < k; ++kk) {
                        out[static_cast<std::size_t>(kk) * static_cast<std::size_t>(width) + static_cast<std::size_t>(c)]
                            = column ? column[static_cast<std::size_t>(kk) * s.step] : std::uint16_t(0);
                    }
                }
            }
        });
        storage_ = halves;
        data_ = halves.get();
        return;
    }
    auto floats = allocate<float>(static_cast<std::size_t>(panels) * panelSize, buffers);
    storage_ = floats;
    data_ = floats.get();
    float* destination = floats.get();
    forEach(pool, static_cast<std::size_t>(panels), 1, [&](std::size_t begin, std::size_t end) {
        std::vector<ColumnSource> sources(static_cast<std::size_t>(width));
        for (std::size_t p = begin; p < end; ++p) {
            for (int c = 0; c < width; ++c) {
                sources[static_cast<std::size_t>(c)] = source(static_cast<int>(p) * width + c);
            }
#ifdef ML_HAS_X86
            packPanelVector(sources.data(), k, width, destination + p * panelSize);
#else
            for (int c = 0; c < width; ++c) {
                packColumnPlain(sources[static_cast<std::size_t>(c)], k, width, destination + p * panelSize + c);
            }
#endif
        }
    });
}

const void* PackedOperand::panel(int index, int depth) const
{
    const std::size_t at = (static_cast<std::size_t>(index) * static_cast<std::size_t>(k_) + static_cast<std::size_t>(depth))
        * static_cast<std::size_t>(panelWidth_);
    return static_cast<const char*>(data_) + at * (halfPanels_ ? sizeof(std::uint16_t) : sizeof(float));
}

void gemm(ThreadPool* pool, int m, int n, int k, float alpha, const float* a, int lda, const PackedOperand& b, float beta,
    float* c, int ldc, const TileEpilogue& epilogue, const RowsEpilogue& rowsDone)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const KernelSet set = b.kernelSet();
    const int threads = pool ? pool->threadCount() : 1;
    const TileSize size = set == KernelSet::portable ? TileSize {192, n <= 384 ? n : 256}
                                                     : tileSize(geometry(set), m, n, threads);
    const int rowTiles = (m + size.rows - 1) / size.rows;
    const int columnTiles = (n + size.columns - 1) / size.columns;
    std::unique_ptr<std::atomic<int>[]> finishedColumns;
    if (rowsDone) {
        finishedColumns = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(rowTiles));
    }
    forEach(pool, static_cast<std::size_t>(rowTiles) * static_cast<std::size_t>(columnTiles), 1,
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t index = begin; index < end; ++index) {
                const int rowTile = static_cast<int>(index / static_cast<std::size_t>(columnTiles));
                GemmTile tile;
                tile.rowBegin = rowTile * size.rows;
                tile.rowEnd = std::min(m, tile.rowBegin + size.rows);
                tile.columnBegin = static_cast<int>(index % static_cast<std::size_t>(columnTiles)) * size.columns;
                tile.columnEnd = std::min(n, tile.columnBegin + size.columns);
                if (set == KernelSet::portable) {
                    runPortableTile(tile, k, alpha, a, lda, b, beta, c, ldc);
                } else {
                    runTile(set, tile, k, alpha, a, lda, b, beta, c, ldc);
                }
                if (epilogue) {
                    epilogue(tile);
                }
                if (rowsDone && finishedColumns[static_cast<std::size_t>(rowTile)].fetch_add(1, std::memory_order_acq_rel) + 1 == columnTiles) {
                    rowsDone(tile.rowBegin, tile.rowEnd);
                }
            }
        });
}

} // namespace ml
