#pragma once

#include "Auris/Models/ShapedArray.hpp"
#include "platform/ml/FeatureProvider.hpp"

#include <memory>

namespace auris {

// Input of the mel-spectrogram model: one window of samples.
class MelSpectrogramInput final : public ml::FeatureProvider {
public:
    ml::MultiArray audio;

    explicit MelSpectrogramInput(ml::MultiArray audio);
    explicit MelSpectrogramInput(const ShapedArray<float>& audio);

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

// Output of the mel-spectrogram model.
class MelSpectrogramOutput final : public ml::FeatureProvider {
public:
    std::shared_ptr<const ml::FeatureProvider> provider;

    explicit MelSpectrogramOutput(ml::MultiArray melspectrogram_features);
    explicit MelSpectrogramOutput(std::shared_ptr<const ml::FeatureProvider> features);
    explicit MelSpectrogramOutput(ml::DictionaryFeatureProvider features);

    ml::MultiArray melspectrogram_features() const;
    ShapedArray<ml::Float16> melspectrogram_featuresShapedArray() const;

    std::vector<std::string> featureNames() const override;
    std::optional<ml::MultiArray> featureValue(const std::string& name) const override;
};

} // namespace auris
