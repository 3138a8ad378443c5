#include "TensorUtils/Math.hpp"

#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <limits>
#include <climits>
#include <cmath>
#include <random>
#include <stdexcept>

namespace tensorutils {

namespace {

void requireCount(std::size_t count)
{
    if (count > static_cast<std::size_t>(INT32_MAX)) {
        throw std::invalid_argument("element count does not fit a 32-bit count");
    }
}

template<typename T>
std::pair<int, T> argmaxOf(const T* values, int count, int stride)
{
    if (!values || count <= 0 || stride <= 0) {
        throw std::invalid_argument("arg-max needs at least one element and a positive stride");
    }
    int best = 0;
    T bestValue = values[0];
    for (int i = 1; i < count; ++i) {
        const T value = values[static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)];
        if (value > bestValue) {
            best = i;
            bestValue = value;
        }
    }
    return {best, bestValue};
}

} // namespace

std::vector<float> Math::softmax(std::span<const float> values)
{
    requireCount(values.size());
    if (values.empty()) {
        return {};
    }
    const float maximum = *std::max_element(values.begin(), values.end());
    std::vector<float> result(values.size());
    float sum = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        result[i] = std::exp(values[i] - maximum);
        sum += result[i];
    }
    for (float& value : result) {
        value /= sum;
    }
    return result;
}

float Math::logSumExp(std::span<const float> values)
{
    constexpr float minusInfinity = -std::numeric_limits<float>::infinity();
    // In vector registers, the exponentials in single precision summed in double: this runs over
    // the whole vocabulary at every decoding step.
    const float maximum = ml::maximum(values.data(), values.size());
    if (maximum == minusInfinity || std::isnan(maximum)) {
        return maximum;
    }
    const double sum = ml::sumOfExponentials(values.data(), values.size(), maximum);
    return static_cast<float>(maximum + std::log(sum));
}

std::vector<float> Math::cumsum(std::span<const float> values)
{
    std::vector<float> result(values.size());
    float running = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        running += values[i];
        result[i] = running;
    }
    return result;
}

std::pair<int, float> Math::argmax(const float* values, int count, int stride)
{
    return argmaxOf(values, count, stride);
}

std::pair<int, double> Math::argmax(const double* values, int count, int stride)
{
    return argmaxOf(values, count, stride);
}

std::pair<int, float> Math::argmax32(const float* values, int count, int stride)
{
    return argmaxOf(values, count, stride);
}

std::pair<int, double> Math::argmax(const ml::MultiArray& array)
{
    requireCount(array.count());
    const double* data = array.data<double>();
    if (array.isPacked()) {
        return argmaxOf(data, static_cast<int>(array.count()), 1);
    }
    std::vector<double> values(array.count());
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = data[array.offsetOfLinear(i)];
    }
    return argmaxOf(values.data(), static_cast<int>(values.size()), 1);
}

std::pair<int, float> Math::argmax32(const ml::MultiArray& array)
{
    requireCount(array.count());
    const float* data = array.data<float>();
    if (array.isPacked()) {
        return argmaxOf(data, static_cast<int>(array.count()), 1);
    }
    std::vector<float> values(array.count());
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = data[array.offsetOfLinear(i)];
    }
    return argmaxOf(values.data(), static_cast<int>(values.size()), 1);
}

std::uint32_t Math::systemRandom(std::uint32_t upperBound)
{
    if (upperBound == 0) {
        return 0;
    }
    thread_local std::mt19937 engine {std::random_device {}()};
    return std::uniform_int_distribution<std::uint32_t>(0, upperBound - 1)(engine);
}

int Math::randomNumber(std::span<const float> probabilities)
{
    return randomNumber(probabilities, &Math::systemRandom);
}

int Math::randomNumber(std::span<const float> probabilities, const RandomSource& random)
{
    requireCount(probabilities.size());
    if (probabilities.empty()) {
        throw std::invalid_argument("sampling needs at least one weight");
    }
    double sum = 0;
    for (float probability : probabilities) {
        sum += probability;
    }
    const double r = static_cast<double>(random(UINT32_MAX)) * sum * std::ldexp(1.0, -32);
    double total = 0;
    for (std::size_t i = 0; i < probabilities.size(); ++i) {
        total += probabilities[i];
        if (total > r) {
            return static_cast<int>(i);
        }
    }
    return static_cast<int>(probabilities.size() - 1);
}

int Math::sample(std::span<const int> indexes, std::span<const float> probs)
{
    return sample(indexes, probs, &Math::systemRandom);
}

int Math::sample(std::span<const int> indexes, std::span<const float> probs, const RandomSource& random)
{
    const int drawn = randomNumber(probs, random);
    if (static_cast<std::size_t>(drawn) >= indexes.size()) {
        throw std::invalid_argument("sampled position has no index");
    }
    return indexes[static_cast<std::size_t>(drawn)];
}

} // namespace tensorutils
