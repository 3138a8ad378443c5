#include "platform/ml/programs/kernels/MatrixKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>

namespace ml {

namespace {

#ifdef ML_HAS_X86

ML_VECTOR_TARGET inline float sum8(__m256 v)
{
    __m128 low = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    low = _mm_add_ps(low, _mm_movehl_ps(low, low));
    low = _mm_add_ss(low, _mm_movehdup_ps(low));
    return _mm_cvtss_f32(low);
}

ML_VECTOR_TARGET inline __m256 loadRow(const std::uint16_t* p)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

ML_VECTOR_TARGET inline __m256 loadRow(const float* p)
{
    return _mm256_loadu_ps(p);
}

inline float scalarAt(const std::uint16_t* p, int i) { return Float16::toFloat(p[i]); }
inline float scalarAt(const float* p, int i) { return p[i]; }

// One row at a time: the weights stream from memory once per step in address order, which the
// hardware prefetchers follow best, and the inputs stay in the first-level cache. Each input has
// accumulators of its own and sums them in the same order, so a row gives every input the value it
// gives that input alone; a row is read from memory once and from the first-level cache for the
// inputs after the first group.
template<typename Element, std::size_t Group>
ML_VECTOR_TARGET void matrixVectorVectorGroup(const Element* row, int columns, const float* const* x, const float* bias, int r,
    float* const* y)
{
    const int blockColumns = columns & ~31;
    __m256 a0[Group], a1[Group], a2[Group], a3[Group];
    for (std::size_t g = 0; g < Group; ++g) {
        a0[g] = a1[g] = a2[g] = a3[g] = _mm256_setzero_ps();
    }
    int c = 0;
    for (; c < blockColumns; c += 32) {
        const __m256 w0 = loadRow(row + c), w1 = loadRow(row + c + 8), w2 = loadRow(row + c + 16), w3 = loadRow(row + c + 24);
        for (std::size_t g = 0; g < Group; ++g) {
            a0[g] = _mm256_fmadd_ps(w0, _mm256_loadu_ps(x[g] + c), a0[g]);
            a1[g] = _mm256_fmadd_ps(w1, _mm256_loadu_ps(x[g] + c + 8), a1[g]);
            a2[g] = _mm256_fmadd_ps(w2, _mm256_loadu_ps(x[g] + c + 16), a2[g]);
            a3[g] = _mm256_fmadd_ps(w3, _mm256_loadu_ps(x[g] + c + 24), a3[g]);
        }
    }
    for (; c + 8 <= columns; c += 8) {
        const __m256 w0 = loadRow(row + c);
        for (std::size_t g = 0; g < Group; ++g) {
            a0[g] = _mm256_fmadd_ps(w0, _mm256_loadu_ps(x[g] + c), a0[g]);
        }
    }
    for (std::size_t g = 0; g < Group; ++g) {
        float s = sum8(_mm256_add_ps(_mm256_add_ps(a0[g], a1[g]), _mm256_add_ps(a2[g], a3[g])));
        for (int t = c; t < columns; ++t) {
            s = std::fma(scalarAt(row, t), x[g][t], s);
        }
        y[g][r] = s + (bias ? bias[r] : 0.0f);
    }
}

template<typename Element>
ML_VECTOR_TARGET void matrixVectorVector(const Element* base, int columns, const VectorBatch& batch, const float* bias, int rowBegin,
    int rowEnd)
{
    const std::size_t stride = static_cast<std::size_t>(columns);
    for (int r = rowBegin; r < rowEnd; ++r) {
        const Element* row = base + static_cast<std::size_t>(r) * stride;
        std::size_t i = 0;
        for (; i + 3 <= batch.count; i += 3) {
            matrixVectorVectorGroup<Element, 3>(row, columns, batch.inputs + i, bias, r, batch.outputs + i);
        }
        if (batch.count - i == 2) {
            matrixVectorVectorGroup<Element, 2>(row, columns, batch.inputs + i, bias, r, batch.outputs + i);
        } else if (batch.count - i == 1) {
            matrixVectorVectorGroup<Element, 1>(row, columns, batch.inputs + i, bias, r, batch.outputs + i);
        }
    }
}

ML_WIDE_TARGET inline __m512 loadWideRow(const std::uint16_t* p)
{
    return _mm512_maskz_cvtph_ps(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

ML_WIDE_TARGET inline __m512 loadWideRow(const float* p)
{
    return _mm512_loadu_ps(p);
}

// Asks for the weights 16 KiB ahead of the row being read, into the second-level cache: the
// hardware prefetchers alone start again on every chunk and keep too few lines in flight.
constexpr std::size_t aheadBytes = 16 << 10;

inline void streamAhead(const std::uint16_t* at)
{
    __builtin_prefetch(reinterpret_cast<const char*>(at) + aheadBytes, 0, 2);
}

inline void streamAhead(const float* at)
{
    const char* line = reinterpret_cast<const char*>(at) + aheadBytes;
    __builtin_prefetch(line, 0, 2);
    __builtin_prefetch(line + 64, 0, 2);
}

template<typename Element, std::size_t Group>
ML_WIDE_TARGET void matrixVectorWideGroup(const Element* row, int columns, const float* const* x, const float* bias, int r,
    float* const* y, bool ahead)
{
    const int blockColumns = columns & ~31;
    __m512 a0[Group], a1[Group];
    for (std::size_t g = 0; g < Group; ++g) {
        a0[g] = a1[g] = _mm512_setzero_ps();
    }
    int c = 0;
    for (; c < blockColumns; c += 32) {
        if (ahead) {
            streamAhead(row + c);
        }
        const __m512 w0 = loadWideRow(row + c), w1 = loadWideRow(row + c + 16);
        for (std::size_t g = 0; g < Group; ++g) {
            a0[g] = _mm512_fmadd_ps(w0, _mm512_loadu_ps(x[g] + c), a0[g]);
            a1[g] = _mm512_fmadd_ps(w1, _mm512_loadu_ps(x[g] + c + 16), a1[g]);
        }
    }
    for (std::size_t g = 0; g < Group; ++g) {
        const __m512 a = _mm512_add_ps(a0[g], a1[g]);
        // Masked extracts: the plain forms trip a false uninitialised-value warning in GCC 12.
        const __m512d halves = _mm512_castps_pd(a);
        float s = sum8(_mm256_add_ps(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xf, halves, 0)),
            _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xf, halves, 1))));
        for (int t = c; t < columns; ++t) {
            s = std::fma(scalarAt(row, t), x[g][t], s);
        }
        y[g][r] = s + (bias ? bias[r] : 0.0f);
    }
}

template<typename Element>
ML_WIDE_TARGET void matrixVectorWide(const Element* base, int columns, const VectorBatch& batch, const float* bias, int rowBegin,
    int rowEnd)
{
    const std::size_t stride = static_cast<std::size_t>(columns);
    for (int r = rowBegin; r < rowEnd; ++r) {
        const Element* row = base + static_cast<std::size_t>(r) * stride;
        std::size_t i = 0;
        for (; i + 6 <= batch.count; i += 6) {
            matrixVectorWideGroup<Element, 6>(row, columns, batch.inputs + i, bias, r, batch.outputs + i, i == 0);
        }
        switch (batch.count - i) {
        case 5: matrixVectorWideGroup<Element, 5>(row, columns, batch.inputs + i, bias, r, batch.outputs + i, i == 0); break;
        case 4: matrixVectorWideGroup<Element, 4>(row, columns, batch.inputs + i, bias, r, batch.outputs + i, i == 0); break;
        case 3: matrixVectorWideGroup<Element, 3>(row, columns, batch.inputs + i, bias, r, batch.outputs + i, i == 0); break;
        case 2: matrixVectorWideGroup<Element, 2>(row, columns, batch.inputs + i, bias, r, batch.outputs + i, i == 0); break;
        case 1: matrixVectorWideGroup<Element, 1>(row, columns, batch.inputs + i, bias, r, batch.outputs + i, i == 0); break;
        default: break;
        }
    }
}

#endif

} // namespace

void matrixVector(const WeightMatrix& w, const float* x, const float* bias, float* y, int rowBegin, int rowEnd)
{
    matrixVectors(w, VectorBatch {&x, &y, 1}, bias, rowBegin, rowEnd);
}

void matrixVectors(const WeightMatrix& w, const VectorBatch& batch, const float* bias, int rowBegin, int rowEnd)
{
#ifdef ML_HAS_X86
    if (activeKernelSet() == KernelSet::avx512) {
        if (w.isHalf) {
            matrixVectorWide(static_cast<const std::uint16_t*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        } else {
            matrixVectorWide(static_cast<const float*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        }
        return;
    }
    if (hasVectorUnits()) {
        if (w.isHalf) {
            matrixVectorVector(static_cast<const std::uint16_t*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        } else {
            matrixVectorVector(static_cast<const float*>(w.data), w.columns, batch, bias, rowBegin, rowEnd);
        }
        return;
    }
#endif
    for (int r = rowBegin; r < rowEnd; ++r) {
        for (std::size_t i = 0; i < batch.count; ++i) {
            const float s = w.isHalf ? dotHalf(w.halfRow(r), batch.inputs[i], static_cast<std::size_t>(w.columns))
                                     : dot(w.floatRow(r), batch.inputs[i], static_cast<std::size_t>(w.columns));
            batch.outputs[i][r] = s + (bias ? bias[r] : 0.0f);
        }
    }
}

void multiplyTransposed(int m, int n, int k, float alpha, const float* a, int lda, const float* b, int ldb, float beta,
    float* c, int ldc)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const PackedOperand packed(activeKernelSet(), GemmOperand {b, false, true, ldb}, n, k);
    gemm(nullptr, m, n, k, alpha, a, lda, packed, beta, c, ldc);
}

void multiply(int m, int n, int k, float alpha, const float* a, int lda, const float* b, int ldb, float beta, float* c,
    int ldc)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const PackedOperand packed(activeKernelSet(), GemmOperand {b, false, false, ldb}, n, k);
    gemm(nullptr, m, n, k, alpha, a, lda, packed, beta, c, ldc);
}

void parallelMultiply(ThreadPool& pool, bool transposedB, int m, int n, int k, float alpha, const float* a, int lda,
    const float* b, int ldb, float beta, float* c, int ldc, const TileEpilogue& epilogue, BufferPool* buffers)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const PackedOperand packed(activeKernelSet(), GemmOperand {b, false, transposedB, ldb}, n, k, &pool, buffers);
    gemm(&pool, m, n, k, alpha, a, lda, packed, beta, c, ldc, epilogue);
}

} // namespace ml
