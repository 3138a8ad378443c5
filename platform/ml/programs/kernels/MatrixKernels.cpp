#include "platform/ml/programs/kernels/MatrixKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>

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

// Four rows at a time so that each load of x serves four rows, fetching the next four rows into
// cache meanwhile: the weights stream from memory once per step, and the prefetch keeps more of
// that stream in flight than the hardware prefetcher alone.
template<typename Element>
ML_VECTOR_TARGET void matrixVectorVector(const Element* base, int rows, int columns, const float* x, const float* bias, float* y,
    int rowBegin, int rowEnd)
{
    constexpr int elementsPerLine = 64 / static_cast<int>(sizeof(Element));
    const std::size_t stride = static_cast<std::size_t>(columns);
    const int vectorColumns = columns & ~7;
    int r = rowBegin;
    for (; r + 4 <= rowEnd; r += 4) {
        const Element* r0 = base + static_cast<std::size_t>(r) * stride;
        const Element* r1 = r0 + stride;
        const Element* r2 = r1 + stride;
        const Element* r3 = r2 + stride;
        const bool prefetch = r + 8 <= rows;
        const Element* next = prefetch ? r3 + stride : r0;
        __m256 a0 = _mm256_setzero_ps(), a1 = _mm256_setzero_ps(), a2 = _mm256_setzero_ps(), a3 = _mm256_setzero_ps();
        for (int c = 0; c < vectorColumns; c += 8) {
            if (prefetch && c % elementsPerLine == 0) {
                _mm_prefetch(reinterpret_cast<const char*>(next + c), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(next + stride + c), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(next + 2 * stride + c), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(next + 3 * stride + c), _MM_HINT_T0);
            }
            const __m256 xv = _mm256_loadu_ps(x + c);
            a0 = _mm256_fmadd_ps(loadRow(r0 + c), xv, a0);
            a1 = _mm256_fmadd_ps(loadRow(r1 + c), xv, a1);
            a2 = _mm256_fmadd_ps(loadRow(r2 + c), xv, a2);
            a3 = _mm256_fmadd_ps(loadRow(r3 + c), xv, a3);
        }
        float s0 = sum8(a0), s1 = sum8(a1), s2 = sum8(a2), s3 = sum8(a3);
        for (int c = vectorColumns; c < columns; ++c) {
            s0 += scalarAt(r0, c) * x[c];
            s1 += scalarAt(r1, c) * x[c];
            s2 += scalarAt(r2, c) * x[c];
            s3 += scalarAt(r3, c) * x[c];
        }
        if (bias) {
            s0 += bias[r];
            s1 += bias[r + 1];
            s2 += bias[r + 2];
            s3 += bias[r + 3];
        }
        y[r] = s0;
        y[r + 1] = s1;
        y[r + 2] = s2;
        y[r + 3] = s3;
    }
    for (; r < rowEnd; ++r) {
        const Element* row = base + static_cast<std::size_t>(r) * stride;
        __m256 a = _mm256_setzero_ps();
        for (int c = 0; c < vectorColumns; c += 8) {
            a = _mm256_fmadd_ps(loadRow(row + c), _mm256_loadu_ps(x + c), a);
        }
        float s = sum8(a);
        for (int c = vectorColumns; c < columns; ++c) {
            s += scalarAt(row, c) * x[c];
        }
        y[r] = s + (bias ? bias[r] : 0.0f);
    }
}

#endif

} // namespace

void matrixVector(const WeightMatrix& w, const float* x, const float* bias, float* y, int rowBegin, int rowEnd)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        if (w.isHalf) {
            matrixVectorVector(static_cast<const std::uint16_t*>(w.data), w.rows, w.columns, x, bias, y, rowBegin, rowEnd);
        } else {
            matrixVectorVector(static_cast<const float*>(w.data), w.rows, w.columns, x, bias, y, rowBegin, rowEnd);
        }
        return;
    }
#endif
    for (int r = rowBegin; r < rowEnd; ++r) {
        const float s = w.isHalf ? dotHalf(w.halfRow(r), x, static_cast<std::size_t>(w.columns))
                                 : dot(w.floatRow(r), x, static_cast<std::size_t>(w.columns));
        y[r] = s + (bias ? bias[r] : 0.0f);
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
