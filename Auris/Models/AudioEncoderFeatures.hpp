#pragma once

#include "Auris/Models/ShapedArray.hpp"
#include "platform/ml/FeatureProvider.hpp"

#include <memory>

namespace auris {

// Input of the audio encoder: the mel spectrogram of one window.
class AudioEncoderInput final : public ml::FeatureProvider {
public:
    ml::MultiArray melspectrogram_features;

    explicit AudioEncoderInput(ml::MultiArray melspectrogram_features);
    explicit AudioEncoderInput(const ShapedArray<float>& melspectrogram_features);

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

// Output of the audio encoder.
class AudioEncoderOutput final : public ml::FeatureProvider {
public:
    std::shared_ptr<const ml::FeatureProvider> provider;

    explicit AudioEncoderOutput(ml::MultiArray encoder_output_embeds);
    explicit AudioEncoderOutput(std::shared_ptr<const ml::FeatureProvider> features);
    explicit AudioEncoderOutput(ml::DictionaryFeatureProvider features);

    ml::MultiArray encoder_output_embeds() const;
    ShapedArray<ml::Float16> encoder_output_embedsShapedArray() const;

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

} // namespace auris
