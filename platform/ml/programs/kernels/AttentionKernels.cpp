#include "platform/ml/programs/kernels/AttentionKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>

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
void scorePlain(const float* query, const Element* keys, std::size_t keyStride, std::size_t positions, std::size_t headWidth,
    float* scores)
{
    std::fill(scores, scores + positions, 0.0f);
    for (std::size_t j = 0; j < headWidth; ++j) {
        const Element* row = keys + j * keyStride;
        for (std::size_t p = 0; p < positions; ++p) {
            scores[p] += query[j] * element(row, p);
        }
    }
}

template<typename Element>
void weighValuesPlain(const float* weights, const Element* values, std::size_t valueStride, std::size_t positions,
    std::size_t headWidth, float* output)
{
    std::fill(output, output + headWidth, 0.0f);
    for (std::size_t p = 0; p < positions; ++p) {
        for (std::size_t j = 0; j < headWidth; ++j) {
            output[j] += weights[p] * element(values + p * valueStride, j);
        }
    }
}

#ifdef ML_HAS_X86

ML_VECTOR_TARGET inline __m256 load8(const float* p) { return _mm256_loadu_ps(p); }
ML_VECTOR_TARGET inline __m256 load8(const std::uint16_t* p)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Channel-major keys, one channel row at a time: each row streams from memory in order while the
// block's scores stay in the first-level cache.
template<typename Element>
ML_VECTOR_TARGET void scoreVector(const float* query, const Element* keys, std::size_t keyStride, std::size_t positions,
    std::size_t headWidth, float* scores)
{
    const std::size_t vectorPositions = positions & ~std::size_t(7);
    std::fill(scores, scores + positions, 0.0f);
    for (std::size_t j = 0; j < headWidth; ++j) {
        const Element* row = keys + j * keyStride;
        const __m256 q = _mm256_set1_ps(query[j]);
        std::size_t p = 0;
        for (; p + 32 <= vectorPositions; p += 32) {
            _mm256_storeu_ps(scores + p, _mm256_fmadd_ps(q, load8(row + p), _mm256_loadu_ps(scores + p)));
            _mm256_storeu_ps(scores + p + 8, _mm256_fmadd_ps(q, load8(row + p + 8), _mm256_loadu_ps(scores + p + 8)));
            _mm256_storeu_ps(scores + p + 16, _mm256_fmadd_ps(q, load8(row + p + 16), _mm256_loadu_ps(scores + p + 16)));
            _mm256_storeu_ps(scores + p + 24, _mm256_fmadd_ps(q, load8(row + p + 24), _mm256_loadu_ps(scores + p + 24)));
        }
        for (; p < vectorPositions; p += 8) {
            _mm256_storeu_ps(scores + p, _mm256_fmadd_ps(q, load8(row + p), _mm256_loadu_ps(scores + p)));
        }
        for (; p < positions; ++p) {
            scores[p] += query[j] * element(row, p);
        }
    }
}

// Head widths that are multiples of 8 up to 128: the output accumulators stay in registers for
// the whole pass over the positions.
template<typename Element, int Blocks>
ML_VECTOR_TARGET void weighValuesVector(const float* weights, const Element* values, std::size_t valueStride,
    std::size_t positions, float* output)
{
    __m256 out[Blocks];
    for (int b = 0; b < Blocks; ++b) {
        out[b] = _mm256_setzero_ps();
    }
    for (std::size_t p = 0; p < positions; ++p) {
        const Element* value = values + p * valueStride;
        const __m256 weight = _mm256_set1_ps(weights[p]);
        for (int b = 0; b < Blocks; ++b) {
            out[b] = _mm256_fmadd_ps(weight, load8(value + 8 * b), out[b]);
        }
    }
    for (int b = 0; b < Blocks; ++b) {
        _mm256_storeu_ps(output + 8 * b, out[b]);
    }
}

template<typename Element>
bool weighValuesDispatch(const float* weights, const Element* values, std::size_t valueStride, std::size_t positions,
    std::size_t headWidth, float* output)
{
    switch (headWidth) {
    case 32: weighValuesVector<Element, 4>(weights, values, valueStride, positions, output); return true;
    case 64: weighValuesVector<Element, 8>(weights, values, valueStride, positions, output); return true;
    case 80: weighValuesVector<Element, 10>(weights, values, valueStride, positions, output); return true;
    case 96: weighValuesVector<Element, 12>(weights, values, valueStride, positions, output); return true;
    case 128: weighValuesVector<Element, 16>(weights, values, valueStride, positions, output); return true;
    default: return false;
    }
}

#endif

template<typename Element>
AttentionPartial attend(const float* query, const Element* keys, std::size_t keyStride, const Element* values,
    std::size_t valueStride, std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    if (positions == 0) {
        std::fill(output, output + headWidth, 0.0f);
        return {0.0f, 0.0f};
    }
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        scoreVector(query, keys, keyStride, positions, headWidth, weights);
        const AttentionPartial partial = weigh(weights, positions, scale);
        if (!weighValuesDispatch(weights, values, valueStride, positions, headWidth, output)) {
            weighValuesPlain(weights, values, valueStride, positions, headWidth, output);
        }
        return partial;
    }
#endif
    scorePlain(query, keys, keyStride, positions, headWidth, weights);
    const AttentionPartial partial = weigh(weights, positions, scale);
    weighValuesPlain(weights, values, valueStride, positions, headWidth, output);
    return partial;
}

} // namespace

AttentionPartial attendBlock(const float* query, const float* keys, std::size_t keyStride, const float* values,
    std::size_t valueStride, std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    return attend(query, keys, keyStride, values, valueStride, positions, headWidth, scale, weights, output);
}

AttentionPartial attendBlock(const float* query, const std::uint16_t* keys, std::size_t keyStride, const std::uint16_t* values,
    std::size_t valueStride, std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    return attend(query, keys, keyStride, values, valueStride, positions, headWidth, scale, weights, output);
}

} // namespace ml
