#pragma once

#include "platform/ml/compiler/WhisperModelSet.hpp"

#include <cstdint>
#include <vector>

namespace testsupport {

// Weights of a Whisper model that writes the same token sequence whatever it hears: the decoder's
// blocks add nothing to its residual stream, so the logits at each position come from the
// positional embedding alone, which points at the token of `script` for that position (the last
// one for every position after). The prediction made at position p is `script[p]`, the prompt's
// tokens included. The rest is the seeded random weights of make-model.
ml::TensorSource scriptedWhisperWeights(const ml::WhisperShape& shape, std::vector<int> script, std::uint64_t seed);

} // namespace testsupport
