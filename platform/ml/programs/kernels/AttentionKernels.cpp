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
void scorePlain(const float* query, const Element* keyTiles, std::size_t positions, std::size_t headWidth, float* scores)
{
    for (std::size_t p = 0; p < positions; ++p) {
        const Element* tile = keyTiles + p / attentionTile * attentionTile * headWidth + p % attentionTile;
        float sum = 0;
        for (std::size_t j = 0; j < headWidth; ++j) {
            sum += query[j] * element(tile, j * attentionTile);
        }
        scores[p] = sum;
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

// A tile's sixteen scores, its channels in four interleaved sums so that the multiply-adds do not
// wait on each other; tiles stream from memory in order.
template<typename Element>
ML_VECTOR_TARGET void scoreVector(const float* query, const Element* keyTiles, std::size_t positions, std::size_t headWidth,
    float* scores)
{
    const std::size_t groups = headWidth & ~std::size_t(3);
    for (std::size_t start = 0; start < positions; start += attentionTile) {
        const Element* tile = keyTiles + start / attentionTile * attentionTile * headWidth;
        __m256 low[4], high[4];
        for (int g = 0; g < 4; ++g) {
            low[g] = _mm256_setzero_ps();
            high[g] = _mm256_setzero_ps();
        }
        std::size_t j = 0;
        for (; j < groups; j += 4) {
            for (int g = 0; g < 4; ++g) {
                const __m256 q = _mm256_set1_ps(query[j + static_cast<std::size_t>(g)]);
                const Element* row = tile + (j + static_cast<std::size_t>(g)) * attentionTile;
                low[g] = _mm256_fmadd_ps(q, load8(row), low[g]);
                high[g] = _mm256_fmadd_ps(q, load8(row + 8), high[g]);
            }
        }
        for (; j < headWidth; ++j) {
            const __m256 q = _mm256_set1_ps(query[j]);
            low[0] = _mm256_fmadd_ps(q, load8(tile + j * attentionTile), low[0]);
            high[0] = _mm256_fmadd_ps(q, load8(tile + j * attentionTile + 8), high[0]);
        }
        alignas(32) float sums[attentionTile];
        _mm256_store_ps(sums, _mm256_add_ps(_mm256_add_ps(low[0], low[1]), _mm256_add_ps(low[2], low[3])));
        _mm256_store_ps(sums + 8, _mm256_add_ps(_mm256_add_ps(high[0], high[1]), _mm256_add_ps(high[2], high[3])));
        std::copy_n(sums, std::min(attentionTile, positions - start), scores + start);
    }
}

ML_WIDE_TARGET inline __m512 load16(const float* p) { return _mm512_loadu_ps(p); }
ML_WIDE_TARGET inline __m512 load16(const std::uint16_t* p)
{
    return _mm512_maskz_cvtph_ps(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

template<typename Element>
ML_WIDE_TARGET void scoreWide(const float* query, const Element* keyTiles, std::size_t positions, std::size_t headWidth,
    float* scores)
{
    const std::size_t groups = headWidth & ~std::size_t(3);
    for (std::size_t start = 0; start < positions; start += attentionTile) {
        const Element* tile = keyTiles + start / attentionTile * attentionTile * headWidth;
        __m512 sum[4] = {_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps()};
        std::size_t j = 0;
        for (; j < groups; j += 4) {
            for (int g = 0; g < 4; ++g) {
                sum[g] = _mm512_fmadd_ps(_mm512_set1_ps(query[j + static_cast<std::size_t>(g)]),
                    load16(tile + (j + static_cast<std::size_t>(g)) * attentionTile), sum[g]);
            }
        }
        for (; j < headWidth; ++j) {
            sum[0] = _mm512_fmadd_ps(_mm512_set1_ps(query[j]), load16(tile + j * attentionTile), sum[0]);
        }
        const __m512 total = _mm512_add_ps(_mm512_add_ps(sum[0], sum[1]), _mm512_add_ps(sum[2], sum[3]));
        const std::size_t count = std::min(attentionTile, positions - start);
        _mm512_mask_storeu_ps(scores + start, static_cast<__mmask16>((1u << count) - 1), total);
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
AttentionPartial attend(const float* query, const Element* keyTiles, const Element* values, std::size_t valueStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    if (positions == 0) {
        std::fill(output, output + headWidth, 0.0f);
        return {0.0f, 0.0f};
    }
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        if (activeKernelSet() == KernelSet::avx512) {
            scoreWide(query, keyTiles, positions, headWidth, weights);
        } else {
            scoreVector(query, keyTiles, positions, headWidth, weights);
        }
        const AttentionPartial partial = weigh(weights, positions, scale);
        if (!weighValuesDispatch(weights, values, valueStride, positions, headWidth, output)) {
            weighValuesPlain(weights, values, valueStride, positions, headWidth, output);
        }
        return partial;
    }
#endif
    scorePlain(query, keyTiles, positions, headWidth, weights);
    const AttentionPartial partial = weigh(weights, positions, scale);
    weighValuesPlain(weights, values, valueStride, positions, headWidth, output);
    return partial;
}

} // namespace

AttentionPartial attendBlock(const float* query, const float* keyTiles, const float* values, std::size_t valueStride,
    std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    return attend(query, keyTiles, values, valueStride, positions, headWidth, scale, weights, output);
}

AttentionPartial attendBlock(const float* query, const std::uint16_t* keyTiles, const std::uint16_t* values,
    std::size_t valueStride, std::size_t positions, std::size_t headWidth, float scale, float* weights, float* output)
{
    return attend(query, keyTiles, values, valueStride, positions, headWidth, scale, weights, output);
}

} // namespace ml
