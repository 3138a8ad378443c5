#pragma once

#include "platform/ml/compiler/WhisperModelSet.hpp"

#include <cstdint>

namespace ml {

// Seeded random weights that keep activations in a sane range: linear and convolution weights of
// variance 1 / fan-in, norms near 1, small biases, sinusoidal encoder positions. The same seed
// gives the same values for a tensor of the same name and shape on every machine.
TensorSource randomWhisperWeights(std::uint64_t seed);

// `weights` with the decoder's positions from `position` on pointing at the token `endToken`: their
// embeddings are that token's row of the token table, scaled so far beyond what the layers add
// that the logits pick it, so a window ends there (its prompt counted) whatever its audio.
TensorSource endingWindowsAt(TensorSource weights, int position, int endToken, int vocabularySize);

} // namespace ml
