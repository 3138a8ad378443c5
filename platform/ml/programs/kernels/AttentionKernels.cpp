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

// Keeps the memory after a block coming while the block is computed: a block's keys and values
// are followed by the next block's, and the computation leaves the hardware prefetchers behind.
// Four lines 16 KiB ahead of every four read.
template<typename Element>
inline void streamAhead(const Element* at)
{
    const char* line = reinterpret_cast<const char*>(at) + (16 << 10);
    for (int i = 0; i < 4; ++i) {
        __builtin_prefetch(line + 64 * i, 0, 2);
    }
}

// Head width 64, the width of every Whisper shape: the sums live in named registers (arrays of
// them were kept in memory by the compiler, a store and a load on every multiply-add), and
// enough of them that the multiply-adds do not wait on each other.
template<typename Element>
ML_WIDE_TARGET void scoreWide64(const float* query, const Element* keyTiles, std::size_t positions, float* scores)
{
    for (std::size_t start = 0; start < positions; start += attentionTile) {
        const Element* tile = keyTiles + start * 64;
        __m512 s0 = _mm512_setzero_ps(), s1 = _mm512_setzero_ps(), s2 = _mm512_setzero_ps(), s3 = _mm512_setzero_ps();
        __m512 s4 = _mm512_setzero_ps(), s5 = _mm512_setzero_ps(), s6 = _mm512_setzero_ps(), s7 = _mm512_setzero_ps();
        for (std::size_t j = 0; j < 64; j += 8) {
            const Element* row = tile + j * attentionTile;
            streamAhead(row);
            s0 = _mm512_fmadd_ps(_mm512_set1_ps(query[j]), load16(row), s0);
            s1 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 1]), load16(row + 16), s1);
            s2 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 2]), load16(row + 32), s2);
            s3 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 3]), load16(row + 48), s3);
            s4 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 4]), load16(row + 64), s4);
            s5 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 5]), load16(row + 80), s5);
            s6 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 6]), load16(row + 96), s6);
            s7 = _mm512_fmadd_ps(_mm512_set1_ps(query[j + 7]), load16(row + 112), s7);
        }
        const __m512 total = _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(s0, s1), _mm512_add_ps(s2, s3)),
            _mm512_add_ps(_mm512_add_ps(s4, s5), _mm512_add_ps(s6, s7)));
        const std::size_t count = std::min(attentionTile, positions - start);
        _mm512_mask_storeu_ps(scores + start, static_cast<__mmask16>((1u << count) - 1), total);
    }
}

template<typename Element>
ML_WIDE_TARGET void weighValuesWide64(const float* weights, const Element* values, std::size_t valueStride,
    std::size_t positions, float* output)
{
    __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(), a3 = _mm512_setzero_ps();
    __m512 b0 = _mm512_setzero_ps(), b1 = _mm512_setzero_ps(), b2 = _mm512_setzero_ps(), b3 = _mm512_setzero_ps();
    std::size_t p = 0;
    for (; p + 2 <= positions; p += 2) {
        const Element* v = values + p * valueStride;
        const Element* u = v + valueStride;
        streamAhead(v);
        const __m512 w = _mm512_set1_ps(weights[p]);
        const __m512 x = _mm512_set1_ps(weights[p + 1]);
        a0 = _mm512_fmadd_ps(w, load16(v), a0);
        a1 = _mm512_fmadd_ps(w, load16(v + 16), a1);
        a2 = _mm512_fmadd_ps(w, load16(v + 32), a2);
        a3 = _mm512_fmadd_ps(w, load16(v + 48), a3);
        b0 = _mm512_fmadd_ps(x, load16(u), b0);
        b1 = _mm512_fmadd_ps(x, load16(u + 16), b1);
        b2 = _mm512_fmadd_ps(x, load16(u + 32), b2);
        b3 = _mm512_fmadd_ps(x, load16(u + 48), b3);
    }
    if (p < positions) {
        const Element* v = values + p * valueStride;
        const __m512 w = _mm512_set1_ps(weights[p]);
        a0 = _mm512_fmadd_ps(w, load16(v), a0);
        a1 = _mm512_fmadd_ps(w, load16(v + 16), a1);
        a2 = _mm512_fmadd_ps(w, load16(v + 32), a2);
        a3 = _mm512_fmadd_ps(w, load16(v + 48), a3);
    }
    _mm512_storeu_ps(output, _mm512_add_ps(a0, b0));
    _mm512_storeu_ps(output + 16, _mm512_add_ps(a1, b1));
    _mm512_storeu_ps(output + 32, _mm512_add_ps(a2, b2));
    _mm512_storeu_ps(output + 48, _mm512_add_ps(a3, b3));
}

template<typename Element>
ML_VECTOR_TARGET void scoreVector64(const float* query, const Element* keyTiles, std::size_t positions, float* scores)
{
    for (std::size_t start = 0; start < positions; start += attentionTile) {
        const Element* tile = keyTiles + start * 64;
        __m256 l0 = _mm256_setzero_ps(), l1 = _mm256_setzero_ps(), l2 = _mm256_setzero_ps(), l3 = _mm256_setzero_ps();
        __m256 h0 = _mm256_setzero_ps(), h1 = _mm256_setzero_ps(), h2 = _mm256_setzero_ps(), h3 = _mm256_setzero_ps();
        for (std::size_t j = 0; j < 64; j += 4) {
            const Element* row = tile + j * attentionTile;
            const __m256 q0 = _mm256_set1_ps(query[j]);
            const __m256 q1 = _mm256_set1_ps(query[j + 1]);
            const __m256 q2 = _mm256_set1_ps(query[j + 2]);
            const __m256 q3 = _mm256_set1_ps(query[j + 3]);
            l0 = _mm256_fmadd_ps(q0, load8(row), l0);
            h0 = _mm256_fmadd_ps(q0, load8(row + 8), h0);
            l1 = _mm256_fmadd_ps(q1, load8(row + 16), l1);
            h1 = _mm256_fmadd_ps(q1, load8(row + 24), h1);
            l2 = _mm256_fmadd_ps(q2, load8(row + 32), l2);
            h2 = _mm256_fmadd_ps(q2, load8(row + 40), h2);
            l3 = _mm256_fmadd_ps(q3, load8(row + 48), l3);
            h3 = _mm256_fmadd_ps(q3, load8(row + 56), h3);
        }
        alignas(32) float sums[attentionTile];
        _mm256_store_ps(sums, _mm256_add_ps(_mm256_add_ps(l0, l1), _mm256_add_ps(l2, l3)));
        _mm256_store_ps(sums + 8, _mm256_add_ps(_mm256_add_ps(h0, h1), _mm256_add_ps(h2, h3)));
        std::copy_n(sums, std::min(attentionTile, positions - start), scores + start);
    }
}

template<typename Element>
ML_VECTOR_TARGET void weighValuesVector64(const float* weights, const Element* values, std::size_t valueStride,
    std::size_t positions, float* output)
{
    __m256 o0 = _mm256_setzero_ps(), o1 = _mm256_setzero_ps(), o2 = _mm256_setzero_ps(), o3 = _mm256_setzero_ps();
    __m256 o4 = _mm256_setzero_ps(), o5 = _mm256_setzero_ps(), o6 = _mm256_setzero_ps(), o7 = _mm256_setzero_ps();
    for (std::size_t p = 0; p < positions; ++p) {
        const Element* v = values + p * valueStride;
        const __m256 w = _mm256_set1_ps(weights[p]);
        o0 = _mm256_fmadd_ps(w, load8(v), o0);
        o1 = _mm256_fmadd_ps(w, load8(v + 8), o1);
        o2 = _mm256_fmadd_ps(w, load8(v + 16), o2);
        o3 = _mm256_fmadd_ps(w, load8(v + 24), o3);
        o4 = _mm256_fmadd_ps(w, load8(v + 32), o4);
        o5 = _mm256_fmadd_ps(w, load8(v + 40), o5);
        o6 = _mm256_fmadd_ps(w, load8(v + 48), o6);
        o7 = _mm256_fmadd_ps(w, load8(v + 56), o7);
    }
    _mm256_storeu_ps(output, o0);
    _mm256_storeu_ps(output + 8, o1);
    _mm256_storeu_ps(output + 16, o2);
    _mm256_storeu_ps(output + 24, o3);
    _mm256_storeu_ps(output + 32, o4);
    _mm256_storeu_ps(output + 40, o5);
    _mm256_storeu_ps(output + 48, o6);
    _mm256_storeu_ps(output + 56, o7);
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
    if (hasVectorUnits() && headWidth == 64) {
        const bool wide = activeKernelSet() == KernelSet::avx512;
        if (wide) {
            scoreWide64(query, keyTiles, positions, weights);
        } else {
            scoreVector64(query, keyTiles, positions, weights);
        }
        const AttentionPartial partial = weigh(weights, positions, scale);
        if (wide) {
            weighValuesWide64(weights, values, valueStride, positions, output);
        } else {
            weighValuesVector64(weights, values, valueStride, positions, output);
        }
        return partial;
    }
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

namespace {

#ifdef ML_HAS_X86

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

} // namespace ml
