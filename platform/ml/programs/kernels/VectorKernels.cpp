#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/VectorLanes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ml {

namespace {

#ifdef ML_HAS_X86

inline __attribute__((always_inline)) ML_VECTOR_TARGET __m128i loadHalves(const std::uint16_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
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
    float sum = Avx2Lanes::reduceAdd(_mm256_add_ps(s0, s1));
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
    float sum = Avx2Lanes::reduceAdd(_mm256_add_ps(s0, s1));
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
    float sum = Avx2Lanes::reduceAdd(sumV);
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
    float squares = Avx2Lanes::reduceAdd(squaresV);
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

// GCC takes the kernels' instruction set from the pragma (with the attribute on each template it
// would not inline them); clang ignores the pragma and needs the attribute.
#if defined(__clang__)
#define LANE_TARGET ML_VECTOR_TARGET
#else
#define LANE_TARGET
#endif
#pragma GCC push_options
#pragma GCC target("avx2,fma,f16c")
namespace vectorLanes {
#include "platform/ml/programs/kernels/LaneKernels.inc"
} // namespace vectorLanes
#pragma GCC pop_options
#undef LANE_TARGET

// GCC 12's AVX-512 headers start many intrinsics from a deliberately undefined register and then
// warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#if defined(__clang__)
#define LANE_TARGET ML_WIDE_TARGET
#else
#define LANE_TARGET
#endif
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma,f16c")
namespace wideLanes {
#include "platform/ml/programs/kernels/LaneKernels.inc"
} // namespace wideLanes
#pragma GCC pop_options
#undef LANE_TARGET
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
        return wideLanes::biasGeluRow<Avx512Lanes>(x, bias, count);
    }
    if (set == KernelSet::avx2) {
        return vectorLanes::biasGeluRow<Avx2Lanes>(x, bias, count);
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
        return wideLanes::maximumRow<Avx512Lanes>(x, count);
    }
    if (set == KernelSet::avx2) {
        return vectorLanes::maximumRow<Avx2Lanes>(x, count);
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
        return wideLanes::scaledArgMaximumRow<Avx512Lanes>(x, y, count, scale);
    }
    if (set == KernelSet::avx2) {
        return vectorLanes::scaledArgMaximumRow<Avx2Lanes>(x, y, count, scale);
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
        return wideLanes::exponentiateRow<Avx512Lanes>(x, count, scale, shift);
    }
    if (set == KernelSet::avx2) {
        return vectorLanes::exponentiateRow<Avx2Lanes>(x, count, scale, shift);
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
        return wideLanes::sumOfExponentialsRow<Avx512Lanes>(x, count, shift);
    }
    if (set == KernelSet::avx2) {
        return vectorLanes::sumOfExponentialsRow<Avx2Lanes>(x, count, shift);
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
