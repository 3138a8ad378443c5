#include "Auris/Models/MelSpectrogramFeatures.hpp"

#include "Auris/Models/ModelOutputs.hpp"

namespace auris {

MelSpectrogramInput::MelSpectrogramInput(ml::MultiArray audio)
    : audio(std::move(audio))
{
}

MelSpectrogramInput::MelSpectrogramInput(const ShapedArray<float>& audio)
    : audio(audio.multiArray())
{
}

std::vector<std::string> MelSpectrogramInput::featureNames() const { return {"audio"}; }

std::optional<ml::MultiArray> MelSpectrogramInput::featureValue(const std::string& name) const
{
    if (name == "audio") return audio;
    return std::nullopt;
}

MelSpectrogramOutput::MelSpectrogramOutput(ml::MultiArray melspectrogram_features)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(
          std::map<std::string, ml::MultiArray> {{"melspectrogram_features", std::move(melspectrogram_features)}}))
{
}

MelSpectrogramOutput::MelSpectrogramOutput(std::shared_ptr<const ml::FeatureProvider> features)
    : provider(std::move(features))
{
}

MelSpectrogramOutput::MelSpectrogramOutput(ml::DictionaryFeatureProvider features)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(std::move(features)))
{
}

ml::MultiArray MelSpectrogramOutput::melspectrogram_features() const
{
    return requiredModelOutput(provider, "melspectrogram_features");
}

ShapedArray<ml::Float16> MelSpectrogramOutput::melspectrogram_featuresShapedArray() const
{
    return ShapedArray<ml::Float16>(melspectrogram_features());
}

std::vector<std::string> MelSpectrogramOutput::featureNames() const { return providerFeatureNames(provider); }

std::optional<ml::MultiArray> MelSpectrogramOutput::featureValue(const std::string& name) const
{
    return optionalModelOutput(provider, name);
}

} // namespace auris
