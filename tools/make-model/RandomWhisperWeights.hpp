#pragma once

#include "platform/ml/compiler/WhisperModelSet.hpp"

#include <cstdint>

namespace ml {

// Seeded random weights that keep activations in a sane range: linear and convolution weights of
// variance 1 / fan-in, norms near 1, small biases, sinusoidal encoder positions. The same seed
// gives the same values for a tensor of the same name and shape on every machine.
TensorSource randomWhisperWeights(std::uint64_t seed);

} // namespace ml
