#pragma once

#include "platform/ml/programs/kernels/CpuFeatures.hpp"

#ifdef ML_HAS_X86

#include <cstddef>

namespace ml {

// The operations the row kernels of LaneKernels.inc need, one struct per vector width. Each also
// says how its kernels walk a row: `unroll` vectors per step, and the tail in one masked vector
// (`maskedTail`) or element by element.

struct Avx2Lanes {
    using Vec = __m256;
    using Mask = __m256;
    using DoubleVec = __m256d;
    static constexpr std::size_t lanes = 8;
    static constexpr std::size_t unroll = 1;
    static constexpr bool maskedTail = false;

    ML_VECTOR_TARGET static Vec set1(float v) { return _mm256_set1_ps(v); }
    ML_VECTOR_TARGET static Vec zero() { return _mm256_setzero_ps(); }
    ML_VECTOR_TARGET static Vec load(const float* p) { return _mm256_loadu_ps(p); }
    ML_VECTOR_TARGET static void store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    ML_VECTOR_TARGET static Vec add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
    ML_VECTOR_TARGET static Vec sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
    ML_VECTOR_TARGET static Vec mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    ML_VECTOR_TARGET static Vec min(Vec a, Vec b) { return _mm256_min_ps(a, b); }
    ML_VECTOR_TARGET static Vec max(Vec a, Vec b) { return _mm256_max_ps(a, b); }
    ML_VECTOR_TARGET static Vec fmadd(Vec a, Vec b, Vec c) { return _mm256_fmadd_ps(a, b, c); }
    ML_VECTOR_TARGET static Vec fnmadd(Vec a, Vec b, Vec c) { return _mm256_fnmadd_ps(a, b, c); }
    ML_VECTOR_TARGET static Vec fmsub(Vec a, Vec b, Vec c) { return _mm256_fmsub_ps(a, b, c); }
    ML_VECTOR_TARGET static Vec abs(Vec v) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v); }
    ML_VECTOR_TARGET static Vec copySign(Vec magnitude, Vec sign)
    {
        return _mm256_or_ps(magnitude, _mm256_and_ps(sign, _mm256_set1_ps(-0.0f)));
    }
    ML_VECTOR_TARGET static Vec roundNearest(Vec v) { return _mm256_round_ps(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    ML_VECTOR_TARGET static Vec reciprocal(Vec v) { return _mm256_div_ps(_mm256_set1_ps(1.0f), v); }
    ML_VECTOR_TARGET static Mask lessThan(Vec a, Vec b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    ML_VECTOR_TARGET static Vec zeroWhere(Mask mask, Vec v) { return _mm256_andnot_ps(mask, v); }
    ML_VECTOR_TARGET static Vec replaceNaN(Vec v, Vec with) { return _mm256_blendv_ps(v, with, _mm256_cmp_ps(v, v, _CMP_UNORD_Q)); }
    // The lanes equal to `t`, one bit each.
    ML_VECTOR_TARGET static unsigned equalLanes(Vec v, Vec t)
    {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(v, t, _CMP_EQ_OQ)));
    }

    // p * 2^n for whole n in [-126, 128], the power split in two so that neither factor overflows.
    ML_VECTOR_TARGET static Vec scaleByPowerOfTwo(Vec p, Vec n)
    {
        const __m256i k = _mm256_cvtps_epi32(n);
        const __m256i half = _mm256_srai_epi32(k, 1);
        const __m256 scaleA = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_add_epi32(half, _mm256_set1_epi32(127)), 23));
        const __m256 scaleB = _mm256_castsi256_ps(
            _mm256_slli_epi32(_mm256_add_epi32(_mm256_sub_epi32(k, half), _mm256_set1_epi32(127)), 23));
        return _mm256_mul_ps(_mm256_mul_ps(p, scaleA), scaleB);
    }

    ML_VECTOR_TARGET static float reduceAdd(Vec v)
    {
        __m128 low = _mm256_castps256_ps128(v);
        __m128 high = _mm256_extractf128_ps(v, 1);
        low = _mm_add_ps(low, high);
        __m128 shuffled = _mm_movehdup_ps(low);
        low = _mm_add_ps(low, shuffled);
        shuffled = _mm_movehl_ps(shuffled, low);
        return _mm_cvtss_f32(_mm_add_ss(low, shuffled));
    }

    ML_VECTOR_TARGET static float reduceMax(Vec v)
    {
        __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
        m = _mm_max_ps(m, _mm_movehl_ps(m, m));
        m = _mm_max_ss(m, _mm_movehdup_ps(m));
        return _mm_cvtss_f32(m);
    }

    ML_VECTOR_TARGET static DoubleVec zeroDouble() { return _mm256_setzero_pd(); }
    ML_VECTOR_TARGET static DoubleVec addDouble(DoubleVec a, DoubleVec b) { return _mm256_add_pd(a, b); }
    // Adds the lower and upper halves of `v`, widened, to `low` and `high`.
    ML_VECTOR_TARGET static void addInDouble(DoubleVec& low, DoubleVec& high, Vec v)
    {
        low = _mm256_add_pd(low, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
        high = _mm256_add_pd(high, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
    }
    ML_VECTOR_TARGET static double reduceAddDouble(DoubleVec v)
    {
        alignas(32) double lanes[4];
        _mm256_store_pd(lanes, v);
        return lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }
};

// GCC 12's AVX-512 headers start many intrinsics from a deliberately undefined register and then
// warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

struct Avx512Lanes {
    using Vec = __m512;
    using Mask = __mmask16;
    using DoubleVec = __m512d;
    static constexpr std::size_t lanes = 16;
    static constexpr std::size_t unroll = 2;
    static constexpr bool maskedTail = true;

    ML_WIDE_TARGET static Vec set1(float v) { return _mm512_set1_ps(v); }
    ML_WIDE_TARGET static Vec zero() { return _mm512_setzero_ps(); }
    ML_WIDE_TARGET static Vec load(const float* p) { return _mm512_loadu_ps(p); }
    ML_WIDE_TARGET static void store(float* p, Vec v) { _mm512_storeu_ps(p, v); }
    ML_WIDE_TARGET static Vec add(Vec a, Vec b) { return _mm512_add_ps(a, b); }
    ML_WIDE_TARGET static Vec sub(Vec a, Vec b) { return _mm512_sub_ps(a, b); }
    ML_WIDE_TARGET static Vec mul(Vec a, Vec b) { return _mm512_mul_ps(a, b); }
    ML_WIDE_TARGET static Vec min(Vec a, Vec b) { return _mm512_min_ps(a, b); }
    ML_WIDE_TARGET static Vec max(Vec a, Vec b) { return _mm512_max_ps(a, b); }
    ML_WIDE_TARGET static Vec fmadd(Vec a, Vec b, Vec c) { return _mm512_fmadd_ps(a, b, c); }
    ML_WIDE_TARGET static Vec fnmadd(Vec a, Vec b, Vec c) { return _mm512_fnmadd_ps(a, b, c); }
    ML_WIDE_TARGET static Vec fmsub(Vec a, Vec b, Vec c) { return _mm512_fmsub_ps(a, b, c); }
    ML_WIDE_TARGET static Vec abs(Vec v) { return _mm512_abs_ps(v); }
    ML_WIDE_TARGET static Vec copySign(Vec magnitude, Vec sign)
    {
        return _mm512_castsi512_ps(_mm512_or_si512(_mm512_castps_si512(magnitude),
            _mm512_and_si512(_mm512_castps_si512(sign), _mm512_set1_epi32(static_cast<int>(0x80000000u)))));
    }
    ML_WIDE_TARGET static Vec roundNearest(Vec v) { return _mm512_roundscale_ps(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    // From the 14-bit estimate and one Newton step, well inside float precision.
    ML_WIDE_TARGET static Vec reciprocal(Vec v)
    {
        const __m512 estimate = _mm512_rcp14_ps(v);
        return _mm512_mul_ps(estimate, _mm512_fnmadd_ps(v, estimate, _mm512_set1_ps(2.0f)));
    }
    ML_WIDE_TARGET static Mask lessThan(Vec a, Vec b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    ML_WIDE_TARGET static Vec zeroWhere(Mask mask, Vec v) { return _mm512_maskz_mov_ps(static_cast<__mmask16>(~mask), v); }
    ML_WIDE_TARGET static Vec replaceNaN(Vec v, Vec with) { return _mm512_mask_mov_ps(v, _mm512_cmp_ps_mask(v, v, _CMP_UNORD_Q), with); }
    ML_WIDE_TARGET static unsigned equalLanes(Vec v, Vec t) { return _mm512_cmp_ps_mask(v, t, _CMP_EQ_OQ); }
    // The power of two goes on through scalef, which covers the whole range.
    ML_WIDE_TARGET static Vec scaleByPowerOfTwo(Vec p, Vec n) { return _mm512_scalef_ps(p, n); }
    ML_WIDE_TARGET static float reduceAdd(Vec v) { return _mm512_reduce_add_ps(v); }
    ML_WIDE_TARGET static float reduceMax(Vec v)
    {
        return Avx2Lanes::reduceMax(
            _mm256_max_ps(_mm512_castps512_ps256(v), _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1))));
    }

    ML_WIDE_TARGET static DoubleVec zeroDouble() { return _mm512_setzero_pd(); }
    ML_WIDE_TARGET static DoubleVec addDouble(DoubleVec a, DoubleVec b) { return _mm512_add_pd(a, b); }
    ML_WIDE_TARGET static void addInDouble(DoubleVec& low, DoubleVec& high, Vec v)
    {
        low = _mm512_add_pd(low, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
        high = _mm512_add_pd(high, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1))));
    }
    ML_WIDE_TARGET static double reduceAddDouble(DoubleVec v) { return _mm512_reduce_add_pd(v); }

    // The first `remaining` lanes (all for 16 or more).
    static Mask tailMask(std::size_t remaining)
    {
        return remaining >= 16 ? Mask(0xffff) : static_cast<Mask>((1u << remaining) - 1);
    }
    ML_WIDE_TARGET static Vec maskedLoad(Mask mask, const float* p) { return _mm512_maskz_loadu_ps(mask, p); }
    ML_WIDE_TARGET static Vec maskedLoad(Vec outside, Mask mask, const float* p) { return _mm512_mask_loadu_ps(outside, mask, p); }
    ML_WIDE_TARGET static void maskedStore(float* p, Mask mask, Vec v) { _mm512_mask_storeu_ps(p, mask, v); }
    ML_WIDE_TARGET static Vec zeroOutside(Mask mask, Vec v) { return _mm512_maskz_mov_ps(mask, v); }
    ML_WIDE_TARGET static Vec maskedMax(Vec m, Mask mask, Vec v) { return _mm512_mask_max_ps(m, mask, m, v); }
    ML_WIDE_TARGET static unsigned maskedEqualLanes(Mask mask, Vec v, Vec t) { return _mm512_mask_cmp_ps_mask(mask, v, t, _CMP_EQ_OQ); }
};

#pragma GCC diagnostic pop

} // namespace ml

#endif
