#pragma once

#include "platform/ml/MultiArray.hpp"

#include <optional>
#include <stop_token>

namespace auris {

// Turns one window of 16 kHz samples into a log-mel spectrogram.
class FeatureExtracting {
public:
    virtual ~FeatureExtracting() = default;
    virtual std::optional<int> melCount() const = 0;
    // A stop request seen before the work starts throws CancellationError.
    virtual std::optional<ml::MultiArray> logMelSpectrogram(const ml::MultiArray& audio, std::stop_token stopToken = {}) = 0;
};

} // namespace auris
