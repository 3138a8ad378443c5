#include "platform/ml/programs/kernels/AttentionKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>

namespace ml {

namespace {

#ifdef ML_HAS_X86

ML_VECTOR_TARGET inline __m256 load8(const float* p) { return _mm256_loadu_ps(p); }
ML_VECTOR_TARGET inline __m256 load8(const std::uint16_t* p)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

ML_WIDE_TARGET inline __m512 load16(const float* p) { return _mm512_loadu_ps(p); }
ML_WIDE_TARGET inline __m512 load16(const std::uint16_t* p)
{
    return _mm512_maskz_cvtph_ps(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// Eight positions at a time, all channels per block: the block's sums stay in registers instead of
// going through memory once per channel.
ML_VECTOR_TARGET void scoreChannelRowsVector(const float* query, const std::uint16_t* keys, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float* scores)
{
    std::size_t p = 0;
    for (; p + 8 <= positions; p += 8) {
        __m256 sum[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
        for (std::size_t j = 0; j < headWidth; ++j) {
            sum[j % 4] = _mm256_fmadd_ps(_mm256_set1_ps(query[j]), load8(keys + j * rowStride + p), sum[j % 4]);
        }
        _mm256_storeu_ps(scores + p, _mm256_add_ps(_mm256_add_ps(sum[0], sum[1]), _mm256_add_ps(sum[2], sum[3])));
    }
    for (; p < positions; ++p) {
        float sum = 0;
        for (std::size_t j = 0; j < headWidth; ++j) {
            sum += query[j] * Float16::toFloat(keys[j * rowStride + p]);
        }
        scores[p] = sum;
    }
}

ML_VECTOR_TARGET void weighChannelRowsVector(const float* weights, const std::uint16_t* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float* output)
{
    const std::size_t blocks = positions & ~std::size_t(7);
    for (std::size_t j = 0; j < headWidth; ++j) {
        const std::uint16_t* row = values + j * rowStride;
        __m256 sum = _mm256_setzero_ps();
        for (std::size_t p = 0; p < blocks; p += 8) {
            sum = _mm256_fmadd_ps(_mm256_loadu_ps(weights + p), load8(row + p), sum);
        }
        __m128 low = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
        low = _mm_add_ps(low, _mm_movehl_ps(low, low));
        low = _mm_add_ss(low, _mm_movehdup_ps(low));
        float total = _mm_cvtss_f32(low);
        for (std::size_t p = blocks; p < positions; ++p) {
            total += weights[p] * Float16::toFloat(row[p]);
        }
        output[j] = total;
    }
}

// Lanes [0, count) of a row's last block, the rest zero: what lies past the positions may be an
// infinity, which times a zero weight would make a sum NaN. The masked load reads at most one
// element past them, inside the row while the row is longer than the positions.
ML_WIDE_TARGET inline __m512 loadTail16(const std::uint16_t* p, std::size_t count)
{
    static constexpr std::uint16_t lanes[32] = {0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff,
        0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff};
    const auto words = static_cast<__mmask16>((1u << ((count + 1) / 2)) - 1);
    const __m256i loaded = _mm512_maskz_extracti64x4_epi64(0xf, _mm512_maskz_loadu_epi32(words, p), 0);
    const __m256i kept = _mm256_and_si256(loaded, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 16 - count)));
    return _mm512_maskz_cvtph_ps(0xffff, kept);
}

template<bool Whole>
ML_WIDE_TARGET inline __m512 loadChannel(const std::uint16_t* p, std::size_t count)
{
    return Whole ? load16(p) : loadTail16(p, count);
}

template<bool Whole>
ML_WIDE_TARGET inline __m512 scoreChannelBlock(const float* query, const std::uint16_t* keys, std::size_t rowStride,
    std::size_t count, std::size_t headWidth)
{
    __m512 s0 = _mm512_setzero_ps(), s1 = _mm512_setzero_ps(), s2 = _mm512_setzero_ps(), s3 = _mm512_setzero_ps();
    std::size_t j = 0;
    for (; j + 4 <= headWidth; j += 4) {
        s0 = _mm512_fmadd_ps(_mm512_set1_ps(query[j]), loadChannel<Whole>(keys + (j) * rowStride, count), s0);
        s1 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 1]), loadChannel<Whole>(keys + (j + 1) * rowStride, count), s1);
        s2 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 2]), loadChannel<Whole>(keys + (j + 2) * rowStride, count), s2);
        s3 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 3]), loadChannel<Whole>(keys + (j + 3) * rowStride, count), s3);
    }
    for (; j < headWidth; ++j) {
        s0 = _mm512_fmadd_ps(_mm512_set1_ps(query[j]), loadChannel<Whole>(keys + (j) * rowStride, count), s0);
    }
    return _mm512_add_ps(_mm512_add_ps(s0, s1), _mm512_add_ps(s2, s3));
}

ML_WIDE_TARGET void scoreChannelRowsWide(const float* query, const std::uint16_t* keys, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float* scores)
{
    std::size_t p = 0;
    for (; p + 16 <= positions; p += 16) {
        _mm512_storeu_ps(scores + p, scoreChannelBlock<true>(query, keys + p, rowStride, 16, headWidth));
    }
    if (p < positions) {
        const std::size_t count = positions - p;
        _mm512_mask_storeu_ps(scores + p, static_cast<__mmask16>((1u << count) - 1),
            scoreChannelBlock<false>(query, keys + p, rowStride, count, headWidth));
    }
}

ML_WIDE_TARGET inline float sum16(__m512 v)
{
    // Masked extracts: the plain forms trip a false uninitialised-value warning in GCC 12.
    const __m512d halves = _mm512_castps_pd(v);
    const __m256 eight = _mm256_add_ps(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xf, halves, 0)),
        _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xf, halves, 1)));
    __m128 four = _mm_add_ps(_mm256_castps256_ps128(eight), _mm256_extractf128_ps(eight, 1));
    four = _mm_add_ps(four, _mm_movehl_ps(four, four));
    return _mm_cvtss_f32(_mm_add_ss(four, _mm_movehdup_ps(four)));
}

// Four channel rows at a time: four sums that do not wait on each other share each load of the
// weights.
ML_WIDE_TARGET void weighChannelRowsWide(const float* weights, const std::uint16_t* values, std::size_t rowStride,
    std::size_t positions, std::size_t headWidth, float* output)
{
    const std::size_t blocks = positions & ~std::size_t(15);
    const std::size_t count = positions - blocks;
    const __m512 tailWeights = _mm512_maskz_loadu_ps(static_cast<__mmask16>((1u << count) - 1), weights + blocks);
    const auto tail = [&](const std::uint16_t* row) ML_WIDE_TARGET {
        return count > 0 ? _mm512_mul_ps(tailWeights, loadTail16(row + blocks, count)) : _mm512_setzero_ps();
    };
    std::size_t j = 0;
    for (; j + 4 <= headWidth; j += 4) {
        const std::uint16_t* row = values + j * rowStride;
        __m512 s0 = tail(row), s1 = tail(row + rowStride), s2 = tail(row + 2 * rowStride), s3 = tail(row + 3 * rowStride);
        for (std::size_t p = 0; p < blocks; p += 16) {
            const __m512 w = _mm512_loadu_ps(weights + p);
            s0 = _mm512_fmadd_ps(w, load16(row + p), s0);
            s1 = _mm512_fmadd_ps(w, load16(row + rowStride + p), s1);
            s2 = _mm512_fmadd_ps(w, load16(row + 2 * rowStride + p), s2);
            s3 = _mm512_fmadd_ps(w, load16(row + 3 * rowStride + p), s3);
        }
        output[j] = sum16(s0);
        output[j + 1] = sum16(s1);
        output[j + 2] = sum16(s2);
        output[j + 3] = sum16(s3);
    }
    for (; j < headWidth; ++j) {
        const std::uint16_t* row = values + j * rowStride;
        __m512 sum = tail(row);
        for (std::size_t p = 0; p < blocks; p += 16) {
            sum = _mm512_fmadd_ps(_mm512_loadu_ps(weights + p), load16(row + p), sum);
        }
        output[j] = sum16(sum);
    }
}

#endif

} // namespace

void scoreChannelRows(const float* query, const std::uint16_t* keys, std::size_t rowStride, std::size_t positions,
    std::size_t headWidth, float* scores)
{
#ifdef ML_HAS_X86
    if (activeKernelSet() == KernelSet::avx512 && positions < rowStride) {
        scoreChannelRowsWide(query, keys, rowStride, positions, headWidth, scores);
        return;
    }
    if (hasVectorUnits()) {
        scoreChannelRowsVector(query, keys, rowStride, positions, headWidth, scores);
        return;
    }
#endif
    std::fill(scores, scores + positions, 0.0f);
    for (std::size_t j = 0; j < headWidth; ++j) {
        for (std::size_t p = 0; p < positions; ++p) {
            scores[p] += query[j] * Float16::toFloat(keys[j * rowStride + p]);
        }
    }
}

void prefetchChannelRows(const std::uint16_t* rows, std::size_t rowStride, std::size_t positions, std::size_t headWidth)
{
    if (positions == 0) {
        return;
    }
    for (std::size_t j = 0; j < headWidth; ++j) {
        const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(rows + j * rowStride);
        const std::uintptr_t last = begin + positions * sizeof(std::uint16_t) - 1;
        for (std::uintptr_t line = begin & ~std::uintptr_t(63); line <= last; line += 64) {
            __builtin_prefetch(reinterpret_cast<const void*>(line));
        }
    }
}

void weighChannelRows(const float* weights, const std::uint16_t* values, std::size_t rowStride, std::size_t positions,
    std::size_t headWidth, float* output)
{
#ifdef ML_HAS_X86
    if (activeKernelSet() == KernelSet::avx512 && positions < rowStride) {
        weighChannelRowsWide(weights, values, rowStride, positions, headWidth, output);
        return;
    }
    if (hasVectorUnits()) {
        weighChannelRowsVector(weights, values, rowStride, positions, headWidth, output);
        return;
    }
#endif
    for (std::size_t j = 0; j < headWidth; ++j) {
        float sum = 0;
        for (std::size_t p = 0; p < positions; ++p) {
            sum += weights[p] * Float16::toFloat(values[j * rowStride + p]);
        }
        output[j] = sum;
    }
}

void attendHalfCache(const float* query, const HalfCacheRows& keys, const HalfCacheRows& values, std::size_t positions,
    std::size_t headWidth, const float* padding, float scale, const float* ownKey, const float* ownValue, float* scores,
    float* output)
{
    if (keys.columnStride == 1) {
        scoreChannelRows(query, keys.data, keys.rowStride, positions, headWidth, scores);
    } else {
        std::fill(scores, scores + positions, 0.0f);
        for (std::size_t j = 0; j < headWidth; ++j) {
            const std::uint16_t* row = keys.data + j * keys.rowStride;
            for (std::size_t p = 0; p < positions; ++p) {
                scores[p] += query[j] * Float16::toFloat(row[p * keys.columnStride]);
            }
        }
    }
    for (std::size_t p = 0; p < positions; ++p) {
        scores[p] = scores[p] * scale + padding[p];
    }
    scores[positions] = dot(query, ownKey, headWidth) * scale;
    softmax(scores, positions + 1, 1.0f);
    if (values.columnStride == 1) {
        weighChannelRows(scores, values.data, values.rowStride, positions, headWidth, output);
    } else {
        for (std::size_t j = 0; j < headWidth; ++j) {
            const std::uint16_t* row = values.data + j * values.rowStride;
            float sum = 0;
            for (std::size_t p = 0; p < positions; ++p) {
                sum += scores[p] * Float16::toFloat(row[p * values.columnStride]);
            }
            output[j] = sum;
        }
    }
    for (std::size_t j = 0; j < headWidth; ++j) {
        output[j] += scores[positions] * ownValue[j];
    }
}

} // namespace ml
