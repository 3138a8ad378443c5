#include "platform/ml/programs/kernels/AttentionKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ML_VECTOR_TARGET __attribute__((target("avx2,fma,f16c")))
#define ML_HAS_X86 1
#endif

namespace ml {

namespace {

inline float element(const float* p, std::size_t i) { return p[i]; }
inline float element(const std::uint16_t* p, std::size_t i) { return Float16::toFloat(p[i]); }

// Scores to weights; a block whose scores are all -inf contributes nothing.
AttentionPartial weigh(float* weights, std::size_t positions, float scale)
{
    const float top = maximum(weights, positions) * scale;
    if (std::isinf(top) && top < 0) {
        std::fill(weights, weights + positions, 0.0f);
        return {top, 0.0f};
    }
    return {top, exponentiate(weights, positions, scale, top)};
}

template<typename Element>
AttentionPartial attendPlain(const float* query, const Element* keys, const Element* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    for (std::size_t p = 0; p < positions; ++p) {
        float sum = 0;
        for (std::size_t j = 0; j < headWidth; ++j) {
            sum += query[j] * element(keys + p * rowStride, j);
        }
        weights[p] = sum;
    }
    const AttentionPartial partial = weigh(weights, positions, scale);
    std::fill(output, output + headWidth, 0.0f);
    for (std::size_t p = 0; p < positions; ++p) {
        for (std::size_t j = 0; j < headWidth; ++j) {
            output[j] += weights[p] * element(values + p * rowStride, j);
        }
    }
    return partial;
}

#ifdef ML_HAS_X86

ML_VECTOR_TARGET inline __m256 load8(const float* p) { return _mm256_loadu_ps(p); }
ML_VECTOR_TARGET inline __m256 load8(const std::uint16_t* p)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

ML_VECTOR_TARGET inline float sum8(__m256 v)
{
    __m128 low = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    low = _mm_add_ps(low, _mm_movehl_ps(low, low));
    low = _mm_add_ss(low, _mm_movehdup_ps(low));
    return _mm_cvtss_f32(low);
}

// Head widths that are multiples of 8 up to 128: the query and the output accumulators stay in
// registers for the whole pass over the positions.
template<typename Element, int Blocks>
ML_VECTOR_TARGET AttentionPartial attendVector(const float* query, const Element* keys, const Element* values,
    std::size_t rowStride, std::size_t positions, float scale, float* weights, float* output)
{
    __m256 q[Blocks];
    for (int b = 0; b < Blocks; ++b) {
        q[b] = _mm256_loadu_ps(query + 8 * b);
    }
    for (std::size_t p = 0; p < positions; ++p) {
        const Element* key = keys + p * rowStride;
        __m256 sum = _mm256_mul_ps(q[0], load8(key));
        for (int b = 1; b < Blocks; ++b) {
            sum = _mm256_fmadd_ps(q[b], load8(key + 8 * b), sum);
        }
        weights[p] = sum8(sum);
    }
    const AttentionPartial partial = weigh(weights, positions, scale);
    __m256 out[Blocks];
    for (int b = 0; b < Blocks; ++b) {
        out[b] = _mm256_setzero_ps();
    }
    for (std::size_t p = 0; p < positions; ++p) {
        const Element* value = values + p * rowStride;
        const __m256 weight = _mm256_set1_ps(weights[p]);
        for (int b = 0; b < Blocks; ++b) {
            out[b] = _mm256_fmadd_ps(weight, load8(value + 8 * b), out[b]);
        }
    }
    for (int b = 0; b < Blocks; ++b) {
        _mm256_storeu_ps(output + 8 * b, out[b]);
    }
    return partial;
}

template<typename Element>
bool attendDispatch(const float* query, const Element* keys, const Element* values, std::size_t rowStride, std::size_t positions,
    std::size_t headWidth, float scale, float* weights, float* output, AttentionPartial& partial)
{
    switch (headWidth) {
    case 32: partial = attendVector<Element, 4>(query, keys, values, rowStride, positions, scale, weights, output); return true;
    case 64: partial = attendVector<Element, 8>(query, keys, values, rowStride, positions, scale, weights, output); return true;
    case 80: partial = attendVector<Element, 10>(query, keys, values, rowStride, positions, scale, weights, output); return true;
    case 96: partial = attendVector<Element, 12>(query, keys, values, rowStride, positions, scale, weights, output); return true;
    case 128: partial = attendVector<Element, 16>(query, keys, values, rowStride, positions, scale, weights, output); return true;
    default: return false;
    }
}

#endif

template<typename Element>
AttentionPartial attend(const float* query, const Element* keys, const Element* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    if (positions == 0) {
        std::fill(output, output + headWidth, 0.0f);
        return {0.0f, 0.0f};
    }
#ifdef ML_HAS_X86
    AttentionPartial partial;
    if (hasVectorUnits()
        && attendDispatch(query, keys, values, rowStride, positions, headWidth, scale, weights, output, partial)) {
        return partial;
    }
#endif
    return attendPlain(query, keys, values, rowStride, positions, headWidth, scale, weights, output);
}

} // namespace

AttentionPartial attendBlock(const float* query, const float* keys, const float* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    return attend(query, keys, values, rowStride, positions, headWidth, scale, weights, output);
}

AttentionPartial attendBlock(const float* query, const std::uint16_t* keys, const std::uint16_t* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    return attend(query, keys, values, rowStride, positions, headWidth, scale, weights, output);
}

} // namespace ml
