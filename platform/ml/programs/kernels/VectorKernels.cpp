#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ml {

namespace {

#ifdef ML_HAS_X86

ML_VECTOR_TARGET inline float horizontalSum(__m256 v)
{
    __m128 low = _mm256_castps256_ps128(v);
    __m128 high = _mm256_extractf128_ps(v, 1);
    low = _mm_add_ps(low, high);
    __m128 shuffled = _mm_movehdup_ps(low);
    low = _mm_add_ps(low, shuffled);
    shuffled = _mm_movehl_ps(shuffled, low);
    return _mm_cvtss_f32(_mm_add_ss(low, shuffled));
}

ML_VECTOR_TARGET inline float horizontalMax(__m256 v)
{
    __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    m = _mm_max_ss(m, _mm_movehdup_ps(m));
    return _mm_cvtss_f32(m);
}

inline __attribute__((always_inline)) ML_VECTOR_TARGET __m128i loadHalves(const std::uint16_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// e^x to about 2 ulp for x in the float range; large negative inputs give 0.
ML_VECTOR_TARGET inline __m256 exp256(__m256 x)
{
    const __m256 tooSmall = _mm256_cmp_ps(x, _mm256_set1_ps(-87.33f), _CMP_LT_OQ);
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-87.33f)), _mm256_set1_ps(88.72f));
    const __m256 n = _mm256_round_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.44269504f)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m256 r = _mm256_fnmadd_ps(n, _mm256_set1_ps(0.693359375f), x);
    r = _mm256_fnmadd_ps(n, _mm256_set1_ps(-2.12194440e-4f), r);
    __m256 p = _mm256_set1_ps(1.0f / 720.0f);
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f / 120.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f / 24.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f / 6.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(0.5f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.0f));
    // n lies in [-126, 128]: split the power of two so that neither factor overflows.
    const __m256i k = _mm256_cvtps_epi32(n);
    const __m256i half = _mm256_srai_epi32(k, 1);
    const __m256 scaleA = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_add_epi32(half, _mm256_set1_epi32(127)), 23));
    const __m256 scaleB = _mm256_castsi256_ps(
        _mm256_slli_epi32(_mm256_add_epi32(_mm256_sub_epi32(k, half), _mm256_set1_epi32(127)), 23));
    const __m256 result = _mm256_mul_ps(_mm256_mul_ps(p, scaleA), scaleB);
    return _mm256_andnot_ps(tooSmall, result);
}

ML_VECTOR_TARGET void halfToFloatVector(const std::uint16_t* s, float* d, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(d + i, _mm256_cvtph_ps(loadHalves(s + i)));
    }
    for (; i < n; ++i) {
        d[i] = Float16::toFloat(s[i]);
    }
}

ML_VECTOR_TARGET void floatToHalfVector(const float* s, std::uint16_t* d, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
            _mm256_cvtps_ph(_mm256_loadu_ps(s + i), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
    }
    for (; i < n; ++i) {
        d[i] = Float16::fromFloat(s[i]);
    }
}

ML_VECTOR_TARGET float dotVector(const float* a, const float* b, std::size_t n)
{
    __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i), s0);
        s1 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), _mm256_loadu_ps(b + i + 8), s1);
    }
    for (; i + 8 <= n; i += 8) {
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i), s0);
    }
    float sum = horizontalSum(_mm256_add_ps(s0, s1));
    for (; i < n; ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

ML_VECTOR_TARGET float dotHalfVector(const std::uint16_t* a, const float* b, std::size_t n)
{
    __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        s0 = _mm256_fmadd_ps(_mm256_cvtph_ps(loadHalves(a + i)), _mm256_loadu_ps(b + i), s0);
        s1 = _mm256_fmadd_ps(_mm256_cvtph_ps(loadHalves(a + i + 8)), _mm256_loadu_ps(b + i + 8), s1);
    }
    for (; i + 8 <= n; i += 8) {
        s0 = _mm256_fmadd_ps(_mm256_cvtph_ps(loadHalves(a + i)), _mm256_loadu_ps(b + i), s0);
    }
    float sum = horizontalSum(_mm256_add_ps(s0, s1));
    for (; i < n; ++i) {
        sum += Float16::toFloat(a[i]) * b[i];
    }
    return sum;
}

ML_VECTOR_TARGET void axpyVector(float alpha, const float* x, float* y, std::size_t n)
{
    const __m256 a = _mm256_set1_ps(alpha);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(y + i, _mm256_fmadd_ps(a, _mm256_loadu_ps(x + i), _mm256_loadu_ps(y + i)));
    }
    for (; i < n; ++i) {
        y[i] += alpha * x[i];
    }
}

ML_VECTOR_TARGET void axpyHalfVector(float alpha, const std::uint16_t* x, float* y, std::size_t n)
{
    const __m256 a = _mm256_set1_ps(alpha);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(y + i, _mm256_fmadd_ps(a, _mm256_cvtph_ps(loadHalves(x + i)), _mm256_loadu_ps(y + i)));
    }
    for (; i < n; ++i) {
        y[i] += alpha * Float16::toFloat(x[i]);
    }
}

// erf by Abramowitz and Stegun 7.1.26 (absolute error below 1.5e-7).
ML_VECTOR_TARGET void geluVector(float* x, std::size_t n)
{
    const __m256 signMask = _mm256_set1_ps(-0.0f);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 v = _mm256_loadu_ps(x + i);
        const __m256 z = _mm256_mul_ps(v, _mm256_set1_ps(0.70710678f));
        const __m256 az = _mm256_andnot_ps(signMask, z);
        const __m256 t = _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_fmadd_ps(az, _mm256_set1_ps(0.3275911f), _mm256_set1_ps(1.0f)));
        __m256 poly = _mm256_set1_ps(1.061405429f);
        poly = _mm256_fmadd_ps(poly, t, _mm256_set1_ps(-1.453152027f));
        poly = _mm256_fmadd_ps(poly, t, _mm256_set1_ps(1.421413741f));
        poly = _mm256_fmadd_ps(poly, t, _mm256_set1_ps(-0.284496736f));
        poly = _mm256_fmadd_ps(poly, t, _mm256_set1_ps(0.254829592f));
        poly = _mm256_mul_ps(poly, t);
        const __m256 e = exp256(_mm256_sub_ps(_mm256_setzero_ps(), _mm256_mul_ps(az, az)));
        const __m256 erfAbs = _mm256_fnmadd_ps(poly, e, _mm256_set1_ps(1.0f));
        const __m256 erf = _mm256_or_ps(erfAbs, _mm256_and_ps(z, signMask));
        _mm256_storeu_ps(x + i, _mm256_mul_ps(_mm256_mul_ps(v, _mm256_set1_ps(0.5f)), _mm256_add_ps(erf, _mm256_set1_ps(1.0f))));
    }
    for (; i < n; ++i) {
        x[i] = 0.5f * x[i] * (1.0f + std::erf(x[i] * 0.70710678f));
    }
}

ML_VECTOR_TARGET float maximumVector(const float* x, std::size_t n)
{
    __m256 maxV = _mm256_set1_ps(-std::numeric_limits<float>::infinity());
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        maxV = _mm256_max_ps(maxV, _mm256_loadu_ps(x + i));
    }
    float result = horizontalMax(maxV);
    for (; i < n; ++i) {
        result = std::max(result, x[i]);
    }
    return result;
}

ML_VECTOR_TARGET std::size_t scaledArgMaximumVector(const float* x, float* y, std::size_t n, float scale)
{
    const __m256 lowest = _mm256_set1_ps(-std::numeric_limits<float>::infinity());
    const __m256 s = _mm256_set1_ps(scale);
    __m256 maxV = lowest;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 v = _mm256_mul_ps(_mm256_loadu_ps(x + i), s);
        const __m256 finite = _mm256_blendv_ps(v, lowest, _mm256_cmp_ps(v, v, _CMP_UNORD_Q));
        _mm256_storeu_ps(y + i, finite);
        maxV = _mm256_max_ps(maxV, finite);
    }
    float top = horizontalMax(maxV);
    for (; i < n; ++i) {
        const float v = x[i] * scale;
        y[i] = std::isnan(v) ? -std::numeric_limits<float>::infinity() : v;
        top = std::max(top, y[i]);
    }
    const __m256 t = _mm256_set1_ps(top);
    for (i = 0; i + 8 <= n; i += 8) {
        if (const int hits = _mm256_movemask_ps(_mm256_cmp_ps(_mm256_loadu_ps(y + i), t, _CMP_EQ_OQ))) {
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
        }
    }
    for (; i < n; ++i) {
        if (y[i] == top) {
            return i;
        }
    }
    return 0;
}

ML_VECTOR_TARGET float exponentiateVector(float* x, std::size_t n, float scale, float shift)
{
    const __m256 s = _mm256_set1_ps(scale);
    const __m256 offset = _mm256_set1_ps(shift);
    __m256 sumV = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 e = exp256(_mm256_fmsub_ps(_mm256_loadu_ps(x + i), s, offset));
        _mm256_storeu_ps(x + i, e);
        sumV = _mm256_add_ps(sumV, e);
    }
    float sum = horizontalSum(sumV);
    for (; i < n; ++i) {
        x[i] = std::exp(x[i] * scale - shift);
        sum += x[i];
    }
    return sum;
}

ML_VECTOR_TARGET void scaleVector(float* x, std::size_t n, float factor)
{
    const __m256 f = _mm256_set1_ps(factor);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(x + i, _mm256_mul_ps(_mm256_loadu_ps(x + i), f));
    }
    for (; i < n; ++i) {
        x[i] *= factor;
    }
}

// Two passes (mean, then squared deviations) with eight partial sums per pass.
ML_VECTOR_TARGET void layerNormVector(const float* x, float* y, std::size_t n, const float* gain, const float* bias, float epsilon)
{
    __m256 sumV = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        sumV = _mm256_add_ps(sumV, _mm256_loadu_ps(x + i));
    }
    float sum = horizontalSum(sumV);
    for (; i < n; ++i) {
        sum += x[i];
    }
    const float mean = sum / static_cast<float>(n);
    const __m256 meanV = _mm256_set1_ps(mean);
    __m256 squaresV = _mm256_setzero_ps();
    i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(x + i), meanV);
        squaresV = _mm256_fmadd_ps(d, d, squaresV);
    }
    float squares = horizontalSum(squaresV);
    for (; i < n; ++i) {
        squares += (x[i] - mean) * (x[i] - mean);
    }
    const float inverse = 1.0f / std::sqrt(squares / static_cast<float>(n) + epsilon);
    const __m256 inverseV = _mm256_set1_ps(inverse);
    i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 normed = _mm256_mul_ps(_mm256_sub_ps(_mm256_loadu_ps(x + i), meanV), inverseV);
        _mm256_storeu_ps(y + i, _mm256_fmadd_ps(normed, _mm256_loadu_ps(gain + i), _mm256_loadu_ps(bias + i)));
    }
    for (; i < n; ++i) {
        y[i] = (x[i] - mean) * inverse * gain[i] + bias[i];
    }
}

ML_VECTOR_TARGET double sumOfExponentialsVector(const float* x, std::size_t n, float shift)
{
    const __m256 offset = _mm256_set1_ps(shift);
    __m256d sum0 = _mm256_setzero_pd(), sum1 = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 e = exp256(_mm256_sub_ps(_mm256_loadu_ps(x + i), offset));
        sum0 = _mm256_add_pd(sum0, _mm256_cvtps_pd(_mm256_castps256_ps128(e)));
        sum1 = _mm256_add_pd(sum1, _mm256_cvtps_pd(_mm256_extractf128_ps(e, 1)));
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, _mm256_add_pd(sum0, sum1));
    double sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; i < n; ++i) {
        sum += std::exp(x[i] - shift);
    }
    return sum;
}

// GCC 12's AVX-512 headers start many intrinsics from a deliberately undefined register and then
// warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// exp256 sixteen lanes wide; the power of two goes on through scalef, which covers the range.
ML_WIDE_TARGET inline __m512 exp512(__m512 x)
{
    const __mmask16 tooSmall = _mm512_cmp_ps_mask(x, _mm512_set1_ps(-87.33f), _CMP_LT_OQ);
    x = _mm512_min_ps(_mm512_max_ps(x, _mm512_set1_ps(-87.33f)), _mm512_set1_ps(88.72f));
    const __m512 n = _mm512_roundscale_ps(_mm512_mul_ps(x, _mm512_set1_ps(1.44269504f)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m512 r = _mm512_fnmadd_ps(n, _mm512_set1_ps(0.693359375f), x);
    r = _mm512_fnmadd_ps(n, _mm512_set1_ps(-2.12194440e-4f), r);
    __m512 p = _mm512_set1_ps(1.0f / 720.0f);
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f / 120.0f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f / 24.0f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f / 6.0f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(0.5f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f));
    return _mm512_maskz_mov_ps(static_cast<__mmask16>(~tooSmall), _mm512_scalef_ps(p, n));
}

inline __mmask16 tailMask(std::size_t remaining)
{
    return remaining >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << remaining) - 1);
}

// geluVector's error function sixteen lanes wide, the bias added first; the reciprocal from its
// 14-bit estimate and one Newton step, well inside float precision.
ML_WIDE_TARGET void geluWide(float* x, const float* bias, std::size_t n)
{
    const __m512 one = _mm512_set1_ps(1.0f);
    for (std::size_t i = 0; i < n; i += 16) {
        const __mmask16 mask = tailMask(n - i);
        __m512 v = _mm512_maskz_loadu_ps(mask, x + i);
        if (bias) {
            v = _mm512_add_ps(v, _mm512_maskz_loadu_ps(mask, bias + i));
        }
        const __m512 z = _mm512_mul_ps(v, _mm512_set1_ps(0.70710678f));
        const __m512 az = _mm512_abs_ps(z);
        const __m512 d = _mm512_fmadd_ps(az, _mm512_set1_ps(0.3275911f), one);
        const __m512 estimate = _mm512_rcp14_ps(d);
        const __m512 t = _mm512_mul_ps(estimate, _mm512_fnmadd_ps(d, estimate, _mm512_set1_ps(2.0f)));
        __m512 poly = _mm512_set1_ps(1.061405429f);
        poly = _mm512_fmadd_ps(poly, t, _mm512_set1_ps(-1.453152027f));
        poly = _mm512_fmadd_ps(poly, t, _mm512_set1_ps(1.421413741f));
        poly = _mm512_fmadd_ps(poly, t, _mm512_set1_ps(-0.284496736f));
        poly = _mm512_fmadd_ps(poly, t, _mm512_set1_ps(0.254829592f));
        poly = _mm512_mul_ps(poly, t);
        const __m512 e = exp512(_mm512_mul_ps(_mm512_sub_ps(_mm512_setzero_ps(), az), az));
        const __m512 erfAbs = _mm512_fnmadd_ps(poly, e, one);
        // The sign of z back on the magnitude.
        const __m512 erf = _mm512_castsi512_ps(_mm512_or_si512(_mm512_castps_si512(erfAbs),
            _mm512_and_si512(_mm512_castps_si512(z), _mm512_set1_epi32(static_cast<int>(0x80000000u)))));
        _mm512_mask_storeu_ps(x + i, mask, _mm512_mul_ps(_mm512_mul_ps(v, _mm512_set1_ps(0.5f)), _mm512_add_ps(erf, one)));
    }
}

ML_WIDE_TARGET float maximumWide(const float* x, std::size_t n)
{
    const __m512 lowest = _mm512_set1_ps(-std::numeric_limits<float>::infinity());
    __m512 m0 = lowest, m1 = lowest;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        m0 = _mm512_max_ps(m0, _mm512_loadu_ps(x + i));
        m1 = _mm512_max_ps(m1, _mm512_loadu_ps(x + i + 16));
    }
    for (; i < n; i += 16) {
        m0 = _mm512_max_ps(m0, _mm512_mask_loadu_ps(lowest, tailMask(n - i), x + i));
    }
    const __m512 m = _mm512_max_ps(m0, m1);
    return horizontalMax(_mm256_max_ps(_mm512_castps512_ps256(m), _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(m), 1))));
}

ML_WIDE_TARGET std::size_t scaledArgMaximumWide(const float* x, float* y, std::size_t n, float scale)
{
    const __m512 lowest = _mm512_set1_ps(-std::numeric_limits<float>::infinity());
    const __m512 s = _mm512_set1_ps(scale);
    __m512 m = lowest;
    for (std::size_t i = 0; i < n; i += 16) {
        const __mmask16 mask = tailMask(n - i);
        const __m512 v = _mm512_mul_ps(_mm512_maskz_loadu_ps(mask, x + i), s);
        const __m512 finite = _mm512_mask_mov_ps(v, _mm512_cmp_ps_mask(v, v, _CMP_UNORD_Q), lowest);
        _mm512_mask_storeu_ps(y + i, mask, finite);
        m = _mm512_mask_max_ps(m, mask, m, finite);
    }
    const __m512 t = _mm512_set1_ps(_mm512_reduce_max_ps(m));
    for (std::size_t i = 0; i < n; i += 16) {
        const __mmask16 mask = tailMask(n - i);
        if (const __mmask16 hits = _mm512_mask_cmp_ps_mask(mask, _mm512_maskz_loadu_ps(mask, y + i), t, _CMP_EQ_OQ)) {
            return i + static_cast<std::size_t>(__builtin_ctz(hits));
        }
    }
    return 0;
}

ML_WIDE_TARGET float exponentiateWide(float* x, std::size_t n, float scale, float shift)
{
    const __m512 s = _mm512_set1_ps(scale);
    const __m512 offset = _mm512_set1_ps(shift);
    __m512 sum0 = _mm512_setzero_ps(), sum1 = _mm512_setzero_ps();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m512 e0 = exp512(_mm512_fmsub_ps(_mm512_loadu_ps(x + i), s, offset));
        const __m512 e1 = exp512(_mm512_fmsub_ps(_mm512_loadu_ps(x + i + 16), s, offset));
        _mm512_storeu_ps(x + i, e0);
        _mm512_storeu_ps(x + i + 16, e1);
        sum0 = _mm512_add_ps(sum0, e0);
        sum1 = _mm512_add_ps(sum1, e1);
    }
    for (; i < n; i += 16) {
        const __mmask16 mask = tailMask(n - i);
        const __m512 e = exp512(_mm512_fmsub_ps(_mm512_maskz_loadu_ps(mask, x + i), s, offset));
        _mm512_mask_storeu_ps(x + i, mask, e);
        sum0 = _mm512_add_ps(sum0, _mm512_maskz_mov_ps(mask, e));
    }
    return _mm512_reduce_add_ps(_mm512_add_ps(sum0, sum1));
}

ML_WIDE_TARGET inline void addInDouble(__m512d& low, __m512d& high, __m512 e)
{
    low = _mm512_add_pd(low, _mm512_cvtps_pd(_mm512_castps512_ps256(e)));
    high = _mm512_add_pd(high, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(e), 1))));
}

ML_WIDE_TARGET double sumOfExponentialsWide(const float* x, std::size_t n, float shift)
{
    const __m512 offset = _mm512_set1_ps(shift);
    __m512d sum0 = _mm512_setzero_pd(), sum1 = _mm512_setzero_pd(), sum2 = _mm512_setzero_pd(), sum3 = _mm512_setzero_pd();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        addInDouble(sum0, sum1, exp512(_mm512_sub_ps(_mm512_loadu_ps(x + i), offset)));
        addInDouble(sum2, sum3, exp512(_mm512_sub_ps(_mm512_loadu_ps(x + i + 16), offset)));
    }
    for (; i < n; i += 16) {
        const __mmask16 mask = tailMask(n - i);
        addInDouble(sum0, sum1, _mm512_maskz_mov_ps(mask, exp512(_mm512_sub_ps(_mm512_maskz_loadu_ps(mask, x + i), offset))));
    }
    return _mm512_reduce_add_pd(_mm512_add_pd(_mm512_add_pd(sum0, sum1), _mm512_add_pd(sum2, sum3)));
}

#pragma GCC diagnostic pop

#endif

void softmaxPlain(float* x, std::size_t n, float scale)
{
    float maximum = -std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < n; ++i) {
        maximum = std::max(maximum, x[i] * scale);
    }
    float sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = std::isinf(maximum) && maximum < 0 ? 1.0f : std::exp(x[i] * scale - maximum);
        sum += x[i];
    }
    for (std::size_t i = 0; i < n; ++i) {
        x[i] /= sum;
    }
}

} // namespace

void halfToFloat(const std::uint16_t* source, float* destination, std::size_t count)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return halfToFloatVector(source, destination, count);
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        destination[i] = Float16::toFloat(source[i]);
    }
}

void floatToHalf(const float* source, std::uint16_t* destination, std::size_t count)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return floatToHalfVector(source, destination, count);
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        destination[i] = Float16::fromFloat(source[i]);
    }
}

float dot(const float* a, const float* b, std::size_t count)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return dotVector(a, b, count);
    }
#endif
    float sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

float dotHalf(const std::uint16_t* a, const float* b, std::size_t count)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return dotHalfVector(a, b, count);
    }
#endif
    float sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += Float16::toFloat(a[i]) * b[i];
    }
    return sum;
}

void axpy(float alpha, const float* x, float* y, std::size_t count)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return axpyVector(alpha, x, y, count);
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        y[i] += alpha * x[i];
    }
}

void axpyHalf(float alpha, const std::uint16_t* x, float* y, std::size_t count)
{
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return axpyHalfVector(alpha, x, y, count);
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        y[i] += alpha * Float16::toFloat(x[i]);
    }
}

void layerNorm(const float* x, float* y, std::size_t count, const float* gain, const float* bias, float epsilon)
{
    if (count == 0) {
        return;
    }
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return layerNormVector(x, y, count, gain, bias, epsilon);
    }
#endif
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += x[i];
    }
    const float mean = static_cast<float>(sum / static_cast<double>(count));
    double squares = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float d = x[i] - mean;
        squares += static_cast<double>(d) * d;
    }
    const float inverse = 1.0f / std::sqrt(static_cast<float>(squares / static_cast<double>(count)) + epsilon);
    for (std::size_t i = 0; i < count; ++i) {
        y[i] = (x[i] - mean) * inverse * gain[i] + bias[i];
    }
}

void gelu(float* x, std::size_t count)
{
    biasGelu(x, nullptr, count);
}

void biasGelu(float* x, const float* bias, std::size_t count)
{
    biasGelu(x, bias, count, activeKernelSet());
}

void biasGelu(float* x, const float* bias, std::size_t count, KernelSet set)
{
#ifdef ML_HAS_X86
    if (set == KernelSet::avx512) {
        return geluWide(x, bias, count);
    }
    if (set == KernelSet::avx2) {
        if (bias) {
            axpy(1.0f, bias, x, count);
        }
        return geluVector(x, count);
    }
#else
    (void)set;
#endif
    for (std::size_t i = 0; i < count; ++i) {
        const float v = bias ? x[i] + bias[i] : x[i];
        x[i] = 0.5f * v * (1.0f + std::erf(v * 0.70710678f));
    }
}

float maximum(const float* x, std::size_t count)
{
    return maximum(x, count, activeKernelSet());
}

float maximum(const float* x, std::size_t count, KernelSet set)
{
#ifdef ML_HAS_X86
    if (set == KernelSet::avx512) {
        return maximumWide(x, count);
    }
    if (set == KernelSet::avx2) {
        return maximumVector(x, count);
    }
#endif
    (void)set;
    float result = -std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < count; ++i) {
        result = std::max(result, x[i]);
    }
    return result;
}

std::size_t scaledArgMaximum(const float* x, float* y, std::size_t count, float scale)
{
    return scaledArgMaximum(x, y, count, scale, activeKernelSet());
}

std::size_t scaledArgMaximum(const float* x, float* y, std::size_t count, float scale, KernelSet set)
{
#ifdef ML_HAS_X86
    if (set == KernelSet::avx512) {
        return scaledArgMaximumWide(x, y, count, scale);
    }
    if (set == KernelSet::avx2) {
        return scaledArgMaximumVector(x, y, count, scale);
    }
#endif
    (void)set;
    float top = -std::numeric_limits<float>::infinity();
    std::size_t first = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float v = x[i] * scale;
        y[i] = std::isnan(v) ? -std::numeric_limits<float>::infinity() : v;
        if (y[i] > top) {
            top = y[i];
            first = i;
        }
    }
    return first;
}

float exponentiate(float* x, std::size_t count, float scale, float shift)
{
    return exponentiate(x, count, scale, shift, activeKernelSet());
}

float exponentiate(float* x, std::size_t count, float scale, float shift, KernelSet set)
{
#ifdef ML_HAS_X86
    if (set == KernelSet::avx512) {
        return exponentiateWide(x, count, scale, shift);
    }
    if (set == KernelSet::avx2) {
        return exponentiateVector(x, count, scale, shift);
    }
#endif
    (void)set;
    float sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        x[i] = std::exp(x[i] * scale - shift);
        sum += x[i];
    }
    return sum;
}

double sumOfExponentials(const float* x, std::size_t count, float shift)
{
    return sumOfExponentials(x, count, shift, activeKernelSet());
}

double sumOfExponentials(const float* x, std::size_t count, float shift, KernelSet set)
{
#ifdef ML_HAS_X86
    if (set == KernelSet::avx512) {
        return sumOfExponentialsWide(x, count, shift);
    }
    if (set == KernelSet::avx2) {
        return sumOfExponentialsVector(x, count, shift);
    }
#endif
    (void)set;
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += std::exp(x[i] - shift);
    }
    return sum;
}

void softmax(float* x, std::size_t count, float scale)
{
    if (count == 0) {
        return;
    }
    const float top = maximum(x, count);
    if (!std::isfinite(top)) {
        softmaxPlain(x, count, scale);
        return;
    }
    const float sum = exponentiate(x, count, scale, top * scale);
#ifdef ML_HAS_X86
    if (hasVectorUnits()) {
        return scaleVector(x, count, 1.0f / sum);
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        x[i] /= sum;
    }
}

} // namespace ml
