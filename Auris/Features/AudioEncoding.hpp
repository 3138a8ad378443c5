#pragma once

#include "platform/ml/MultiArray.hpp"

#include <optional>
#include <stop_token>

namespace auris {

// Turns a mel spectrogram into the embeddings the text decoder attends to.
class AudioEncoding {
public:
    virtual ~AudioEncoding() = default;
    virtual std::optional<int> embedSize() const = 0;
    // A stop request seen before the work starts throws CancellationError.
    virtual std::optional<ml::MultiArray> encodeFeatures(const ml::MultiArray& features, std::stop_token stopToken = {}) = 0;
};

} // namespace auris
