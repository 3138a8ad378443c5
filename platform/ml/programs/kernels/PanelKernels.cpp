#include "platform/ml/programs/kernels/PanelKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ml {

namespace {

constexpr int panelRows = PanelMatrix::panelRows;

inline float scalarAt(const std::uint16_t* p, std::size_t i) { return Float16::toFloat(p[i]); }
inline float scalarAt(const float* p, std::size_t i) { return p[i]; }

std::size_t panelElements(int columns) { return static_cast<std::size_t>(panelRows) * static_cast<std::size_t>(columns); }

template<typename Element>
void packRows(const Element* source, int columns, int rows, Element* destination)
{
    const std::size_t width = static_cast<std::size_t>(columns);
    for (int first = 0; first < rows; first += panelRows) {
        Element* panel = destination + static_cast<std::size_t>(first) * width;
        const int filled = std::min(panelRows, rows - first);
        for (std::size_t k = 0; k < width; ++k) {
            for (int r = 0; r < panelRows; ++r) {
                panel[k * panelRows + static_cast<std::size_t>(r)]
                    = r < filled ? source[static_cast<std::size_t>(first + r) * width + k] : Element {};
            }
        }
    }
}

// The two sums of every output, one scalar at a time.
template<typename Element>
void panelProductsPlain(const Element* base, int columns, const VectorBatch& batch, const float* bias, int rowBegin, int rowEnd)
{
    const std::size_t width = static_cast<std::size_t>(columns);
    for (int r = rowBegin; r < rowEnd; ++r) {
        const Element* panel = base + static_cast<std::size_t>(r / panelRows) * panelElements(columns);
        const std::size_t lane = static_cast<std::size_t>(r % panelRows);
        for (std::size_t i = 0; i < batch.count; ++i) {
            const float* x = batch.inputs[i];
            float even = 0.0f, odd = 0.0f;
            std::size_t k = 0;
            for (; k + 2 <= width; k += 2) {
                even = std::fma(scalarAt(panel, k * panelRows + lane), x[k], even);
                odd = std::fma(scalarAt(panel, (k + 1) * panelRows + lane), x[k + 1], odd);
            }
            if (k < width) {
                even = std::fma(scalarAt(panel, k * panelRows + lane), x[k], even);
            }
            batch.outputs[i][r] = (even + odd) + (bias ? bias[r] : 0.0f);
        }
    }
}

#ifdef ML_HAS_X86

// Asks for the weights 16 KiB ahead of the column being read, into the second-level cache: the
// hardware prefetchers alone start again on every chunk and keep too few lines in flight.
constexpr std::size_t aheadBytes = 16 << 10;

ML_VECTOR_TARGET inline __m256 loadEight(const std::uint16_t* p)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

ML_VECTOR_TARGET inline __m256 loadEight(const float* p) { return _mm256_loadu_ps(p); }

inline void askAhead(const std::uint16_t* at) { __builtin_prefetch(reinterpret_cast<const char*>(at) + aheadBytes, 0, 2); }

inline void askAhead(const float* at)
{
    const char* line = reinterpret_cast<const char*>(at) + aheadBytes;
    __builtin_prefetch(line, 0, 2);
    __builtin_prefetch(line + 64, 0, 2);
}

// One panel for G vectors, in eight-lane halves: [g][half] sums.
template<typename Element, int G>
ML_VECTOR_TARGET void panelTileVector(const Element* panel, int columns, const float* const* x, float* const* y,
    const float* bias, int first, int rowBegin, int rowEnd)
{
    __m256 even[G][2], odd[G][2];
    #pragma GCC unroll 16
    for (int g = 0; g < G; ++g) {
        even[g][0] = even[g][1] = odd[g][0] = odd[g][1] = _mm256_setzero_ps();
    }
    const std::size_t width = static_cast<std::size_t>(columns);
    std::size_t k = 0;
    for (; k + 2 <= width; k += 2) {
        const Element* at = panel + k * panelRows;
        askAhead(at);
        const __m256 e0 = loadEight(at), e1 = loadEight(at + 8);
        const __m256 o0 = loadEight(at + panelRows), o1 = loadEight(at + panelRows + 8);
        #pragma GCC unroll 16
        for (int g = 0; g < G; ++g) {
            const __m256 xe = _mm256_broadcast_ss(x[g] + k), xo = _mm256_broadcast_ss(x[g] + k + 1);
            even[g][0] = _mm256_fmadd_ps(e0, xe, even[g][0]);
            even[g][1] = _mm256_fmadd_ps(e1, xe, even[g][1]);
            odd[g][0] = _mm256_fmadd_ps(o0, xo, odd[g][0]);
            odd[g][1] = _mm256_fmadd_ps(o1, xo, odd[g][1]);
        }
    }
    if (k < width) {
        const Element* at = panel + k * panelRows;
        const __m256 e0 = loadEight(at), e1 = loadEight(at + 8);
        #pragma GCC unroll 16
        for (int g = 0; g < G; ++g) {
            const __m256 xe = _mm256_broadcast_ss(x[g] + k);
            even[g][0] = _mm256_fmadd_ps(e0, xe, even[g][0]);
            even[g][1] = _mm256_fmadd_ps(e1, xe, even[g][1]);
        }
    }
    const int from = std::max(rowBegin, first), to = std::min(rowEnd, first + panelRows);
    #pragma GCC unroll 16
    for (int g = 0; g < G; ++g) {
        alignas(32) float sums[panelRows];
        _mm256_store_ps(sums, _mm256_add_ps(even[g][0], odd[g][0]));
        _mm256_store_ps(sums + 8, _mm256_add_ps(even[g][1], odd[g][1]));
        for (int r = from; r < to; ++r) {
            y[g][r] = sums[r - first] + (bias ? bias[r] : 0.0f);
        }
    }
}

// Two vectors at a time: eight running sums of eight lanes.
template<typename Element>
ML_VECTOR_TARGET void panelProductsVector(const Element* base, int columns, const VectorBatch& batch, const float* bias,
    int rowBegin, int rowEnd)
{
    const std::size_t stride = panelElements(columns);
    for (int first = rowBegin - rowBegin % panelRows; first < rowEnd; first += panelRows) {
        const Element* panel = base + static_cast<std::size_t>(first / panelRows) * stride;
        std::size_t i = 0;
        for (; i + 2 <= batch.count; i += 2) {
            panelTileVector<Element, 2>(panel, columns, batch.inputs + i, batch.outputs + i, bias, first, rowBegin, rowEnd);
        }
        if (i < batch.count) {
            panelTileVector<Element, 1>(panel, columns, batch.inputs + i, batch.outputs + i, bias, first, rowBegin, rowEnd);
        }
    }
}

// GCC 12's AVX-512 headers start many intrinsics from a deliberately undefined register and then
// warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

ML_WIDE_TARGET inline __m512 loadSixteen(const std::uint16_t* p)
{
    return _mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

ML_WIDE_TARGET inline __m512 loadSixteen(const float* p) { return _mm512_loadu_ps(p); }

// P panels side by side for G vectors: P x G x 2 running sums, enough for the multiply-adds to
// follow each other without waiting on one another.
template<typename Element, int P, int G>
ML_WIDE_TARGET void panelTileWide(const Element* panels, int columns, const float* const* x, float* const* y, const float* bias,
    int row, int rowBegin, int rowEnd)
{
    const std::size_t stride = panelElements(columns);
    __m512 even[P][G], odd[P][G];
    #pragma GCC unroll 16
    for (int p = 0; p < P; ++p) {
        #pragma GCC unroll 16
        for (int g = 0; g < G; ++g) {
            even[p][g] = odd[p][g] = _mm512_setzero_ps();
        }
    }
    const std::size_t width = static_cast<std::size_t>(columns);
    std::size_t k = 0;
    for (; k + 2 <= width; k += 2) {
        __m512 e[P], o[P];
        #pragma GCC unroll 16
        for (int p = 0; p < P; ++p) {
            const Element* at = panels + static_cast<std::size_t>(p) * stride + k * panelRows;
            askAhead(at);
            e[p] = loadSixteen(at);
            o[p] = loadSixteen(at + panelRows);
        }
        #pragma GCC unroll 16
        for (int g = 0; g < G; ++g) {
            const __m512 xe = _mm512_set1_ps(x[g][k]), xo = _mm512_set1_ps(x[g][k + 1]);
            #pragma GCC unroll 16
            for (int p = 0; p < P; ++p) {
                even[p][g] = _mm512_fmadd_ps(e[p], xe, even[p][g]);
                odd[p][g] = _mm512_fmadd_ps(o[p], xo, odd[p][g]);
            }
        }
    }
    if (k < width) {
        #pragma GCC unroll 16
        for (int p = 0; p < P; ++p) {
            const __m512 e = loadSixteen(panels + static_cast<std::size_t>(p) * stride + k * panelRows);
            #pragma GCC unroll 16
            for (int g = 0; g < G; ++g) {
                even[p][g] = _mm512_fmadd_ps(e, _mm512_set1_ps(x[g][k]), even[p][g]);
            }
        }
    }
    #pragma GCC unroll 16
    for (int p = 0; p < P; ++p) {
        // The lanes of rows [rowBegin, rowEnd).
        const int first = row + p * panelRows;
        const unsigned below = static_cast<unsigned>(std::clamp(rowBegin - first, 0, panelRows));
        const unsigned upTo = static_cast<unsigned>(std::clamp(rowEnd - first, 0, panelRows));
        const __mmask16 mask = static_cast<__mmask16>(((1u << upTo) - 1u) & ~((1u << below) - 1u));
        const __m512 shift = bias ? _mm512_maskz_loadu_ps(mask, bias + first) : _mm512_setzero_ps();
        #pragma GCC unroll 16
        for (int g = 0; g < G; ++g) {
            _mm512_mask_storeu_ps(y[g] + first, mask, _mm512_add_ps(_mm512_add_ps(even[p][g], odd[p][g]), shift));
        }
    }
}

// Rows [rowBegin, rowEnd) in tiles of P panels, one panel at a time where fewer are left.
template<typename Element, int P, int G>
ML_WIDE_TARGET void panelRowsWide(const Element* base, int columns, const float* const* x, float* const* y, const float* bias,
    int rowBegin, int rowEnd)
{
    const std::size_t stride = panelElements(columns);
    int row = rowBegin - rowBegin % panelRows;
    for (; row + (P - 1) * panelRows < rowEnd; row += P * panelRows) {
        panelTileWide<Element, P, G>(base + static_cast<std::size_t>(row / panelRows) * stride, columns, x, y, bias, row, rowBegin,
            rowEnd);
    }
    for (; row < rowEnd; row += panelRows) {
        panelTileWide<Element, 1, G>(base + static_cast<std::size_t>(row / panelRows) * stride, columns, x, y, bias, row, rowBegin,
            rowEnd);
    }
}

// Up to eight vectors in one pass, with at least eight running sums in all.
template<typename Element>
ML_WIDE_TARGET void panelGroupWide(const Element* base, int columns, const float* const* x, float* const* y, std::size_t count,
    const float* bias, int rowBegin, int rowEnd)
{
    switch (count) {
    case 1: panelRowsWide<Element, 4, 1>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    case 2: panelRowsWide<Element, 2, 2>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    case 3: panelRowsWide<Element, 2, 3>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    case 4: panelRowsWide<Element, 1, 4>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    case 5: panelRowsWide<Element, 1, 5>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    case 6: panelRowsWide<Element, 1, 6>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    case 7: panelRowsWide<Element, 1, 7>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    default: panelRowsWide<Element, 1, 8>(base, columns, x, y, bias, rowBegin, rowEnd); break;
    }
}

// More than eight vectors go through each panel in groups of eight while it is in the first-level
// cache.
template<typename Element>
ML_WIDE_TARGET void panelProductsWide(const Element* base, int columns, const VectorBatch& batch, const float* bias, int rowBegin,
    int rowEnd)
{
    constexpr std::size_t group = 8;
    if (batch.count <= group) {
        panelGroupWide(base, columns, batch.inputs, batch.outputs, batch.count, bias, rowBegin, rowEnd);
        return;
    }
    for (int first = rowBegin - rowBegin % panelRows; first < rowEnd; first += panelRows) {
        const int from = std::max(rowBegin, first), to = std::min(rowEnd, first + panelRows);
        for (std::size_t i = 0; i < batch.count; i += group) {
            panelGroupWide(base, columns, batch.inputs + i, batch.outputs + i, std::min(group, batch.count - i), bias, from, to);
        }
    }
}

#pragma GCC diagnostic pop

#endif

} // namespace

float PanelMatrix::at(int row, int column) const
{
    const std::size_t offset = static_cast<std::size_t>(row / panelRows) * panelElements(columns)
        + static_cast<std::size_t>(column) * panelRows + static_cast<std::size_t>(row % panelRows);
    return isHalf ? scalarAt(static_cast<const std::uint16_t*>(data), offset) : scalarAt(static_cast<const float*>(data), offset);
}

PanelMatrix packPanels(const WeightMatrix& source, int firstRow, int rows, void* destination)
{
    if (source.isHalf) {
        packRows(source.halfRow(firstRow), source.columns, rows, static_cast<std::uint16_t*>(destination));
    } else {
        packRows(source.floatRow(firstRow), source.columns, rows, static_cast<float*>(destination));
    }
    return {destination, source.isHalf, rows, source.columns};
}

PanelMatrix packPanels(const float* source, std::size_t rowStride, std::size_t columnStride, int rows, int columns, bool asHalf,
    void* destination, int firstPanel, int endPanel)
{
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<float> column(panelRows);
    for (int panel = firstPanel; panel < endPanel; ++panel) {
        const int first = panel * panelRows;
        const int filled = std::min(panelRows, rows - first);
        const std::size_t at = static_cast<std::size_t>(panel) * panelElements(columns);
        for (std::size_t k = 0; k < width; ++k) {
            for (int r = 0; r < panelRows; ++r) {
                column[static_cast<std::size_t>(r)]
                    = r < filled ? source[static_cast<std::size_t>(first + r) * rowStride + k * columnStride] : 0.0f;
            }
            if (asHalf) {
                floatToHalf(column.data(), static_cast<std::uint16_t*>(destination) + at + k * panelRows, panelRows);
            } else {
                std::copy(column.begin(), column.end(), static_cast<float*>(destination) + at + k * panelRows);
            }
        }
    }
    return {destination, asHalf, rows, columns};
}

void panelProducts(const PanelMatrix& w, const VectorBatch& batch, const float* bias, int rowBegin, int rowEnd)
{
    if (batch.count == 0 || rowBegin >= rowEnd) {
        return;
    }
#ifdef ML_HAS_X86
    if (activeKernelSet() == KernelSet::avx512) {
        if (w.isHalf) {
            panelProductsWide(static_cast<const std::uint16_t*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        } else {
            panelProductsWide(static_cast<const float*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        }
        return;
    }
    if (hasVectorUnits()) {
        if (w.isHalf) {
            panelProductsVector(static_cast<const std::uint16_t*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        } else {
            panelProductsVector(static_cast<const float*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        }
        return;
    }
#endif
    if (w.isHalf) {
        panelProductsPlain(static_cast<const std::uint16_t*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
    } else {
        panelProductsPlain(static_cast<const float*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
    }
}

} // namespace ml
