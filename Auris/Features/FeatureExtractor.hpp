#pragma once

#include "Auris/Features/FeatureExtracting.hpp"
#include "Auris/Models/WhisperMLModel.hpp"

namespace auris {

// Runs the mel-spectrogram model: "audio" in, "melspectrogram_features" out.
class FeatureExtractor : public FeatureExtracting, public WhisperMLModel {
public:
    FeatureExtractor() = default;

    // Dimension 1 of the declared "melspectrogram_features" output; none without a model.
    std::optional<int> melCount() const override;
    std::optional<ml::MultiArray> logMelSpectrogram(const ml::MultiArray& audio, std::stop_token stopToken = {}) override;
};

} // namespace auris
