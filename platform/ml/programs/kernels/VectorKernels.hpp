#pragma once

#include "platform/ml/programs/kernels/CpuFeatures.hpp"

#include <cstddef>
#include <cstdint>

namespace ml {

// Element kernels on float32 rows; float16 data is passed as its bit patterns.

void halfToFloat(const std::uint16_t* source, float* destination, std::size_t count);
void floatToHalf(const float* source, std::uint16_t* destination, std::size_t count);

float dot(const float* a, const float* b, std::size_t count);
float dotHalf(const std::uint16_t* a, const float* b, std::size_t count);
// y += alpha * x
void axpy(float alpha, const float* x, float* y, std::size_t count);
void axpyHalf(float alpha, const std::uint16_t* x, float* y, std::size_t count);

// y = (x - mean) / sqrt(variance + epsilon) * gain + bias; x and y may be the same row.
void layerNorm(const float* x, float* y, std::size_t count, const float* gain, const float* bias, float epsilon);

// Asks for the cache lines of [data, data + bytes) ahead of their use; changes nothing else.
inline void prefetch(const void* data, std::size_t bytes)
{
    const char* p = static_cast<const char*>(data);
    for (std::size_t at = 0; at < bytes; at += 64) {
        __builtin_prefetch(p + at);
    }
    if (bytes > 0) {
        __builtin_prefetch(p + bytes - 1);
    }
}

// x = x * Phi(x), the exact (error-function) form.
void gelu(float* x, std::size_t count);
// x = GELU(x + bias), one pass; bias may be null.
void biasGelu(float* x, const float* bias, std::size_t count);

// x = softmax(x * scale), in place, for scale > 0.
void softmax(float* x, std::size_t count, float scale);

// The largest element (negative infinity for none).
float maximum(const float* x, std::size_t count);
// y = x * scale with NaN read as negative infinity; returns the first index of y's largest element
// (0 for none).
std::size_t scaledArgMaximum(const float* x, float* y, std::size_t count, float scale);
// x = exp(x * scale - shift), in place; returns the sum of the results.
float exponentiate(float* x, std::size_t count, float scale, float shift);
// The sum of exp(x - shift) over the row, accumulated in double; x is left as it is.
double sumOfExponentials(const float* x, std::size_t count, float shift);
// The same with that kernel set's instructions (one this processor runs); the forms above take
// activeKernelSet().
float maximum(const float* x, std::size_t count, KernelSet set);
std::size_t scaledArgMaximum(const float* x, float* y, std::size_t count, float scale, KernelSet set);
void biasGelu(float* x, const float* bias, std::size_t count, KernelSet set);
float exponentiate(float* x, std::size_t count, float scale, float shift, KernelSet set);
double sumOfExponentials(const float* x, std::size_t count, float shift, KernelSet set);

} // namespace ml
