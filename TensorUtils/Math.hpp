#pragma once

#include "platform/ml/MultiArray.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace tensorutils {

// A uniform draw in [0, upperBound); injected where sampling must be reproducible.
using RandomSource = std::function<std::uint32_t(std::uint32_t upperBound)>;

// Vector math used by text generation and the decoder. Invalid arguments (an empty input to an
// arg-max, a count beyond 32 bits, mismatched lengths) throw std::invalid_argument.
class Math {
public:
    Math() = delete;

    // Numerically stable: the maximum is subtracted before exponentiation.
    static std::vector<float> softmax(std::span<const float> values);
    // log(sum(exp(values))) computed around the maximum; minus infinity for an empty or all
    // minus-infinity input, NaN when the maximum is NaN.
    static float logSumExp(std::span<const float> values);
    // Inclusive running sums.
    static std::vector<float> cumsum(std::span<const float> values);

    // Index and value of the maximum of `count` elements taken every `stride`; the first maximum wins.
    static std::pair<int, float> argmax(const float* values, int count, int stride = 1);
    static std::pair<int, double> argmax(const double* values, int count, int stride = 1);
    static std::pair<int, float> argmax32(const float* values, int count, int stride = 1);
    // Over a multi-array's elements in row-major order: a float64 array, or a float32 one.
    static std::pair<int, double> argmax(const ml::MultiArray& array);
    static std::pair<int, float> argmax32(const ml::MultiArray& array);

    // An index drawn with the given weights (they need not sum to 1).
    static int randomNumber(std::span<const float> probabilities);
    static int randomNumber(std::span<const float> probabilities, const RandomSource& random);
    // One of `indexes`, drawn with the weights `probs`.
    static int sample(std::span<const int> indexes, std::span<const float> probs);
    static int sample(std::span<const int> indexes, std::span<const float> probs, const RandomSource& random);

    // The process's default source: uniform and safe to use from several threads.
    static std::uint32_t systemRandom(std::uint32_t upperBound);
};

} // namespace tensorutils
