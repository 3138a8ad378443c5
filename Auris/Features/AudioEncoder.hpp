#pragma once

#include "Auris/Features/AudioEncoding.hpp"
#include "Auris/Models/WhisperMLModel.hpp"

namespace auris {

// Runs the audio encoder: "melspectrogram_features" in, "encoder_output_embeds" out.
class AudioEncoder : public AudioEncoding, public WhisperMLModel {
public:
    AudioEncoder() = default;

    // Dimensions 1 and 3 of the declared "encoder_output_embeds" output; none without a model.
    std::optional<int> embedSize() const override;
    std::optional<int> sequenceLength() const;
    std::optional<ml::MultiArray> encodeFeatures(const ml::MultiArray& features, std::stop_token stopToken = {}) override;
};

} // namespace auris
