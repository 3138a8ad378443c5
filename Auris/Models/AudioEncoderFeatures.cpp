#include "Auris/Models/AudioEncoderFeatures.hpp"

#include "Auris/Models/ModelOutputs.hpp"

namespace auris {

AudioEncoderInput::AudioEncoderInput(ml::MultiArray melspectrogram_features)
    : melspectrogram_features(std::move(melspectrogram_features))
{
}

AudioEncoderInput::AudioEncoderInput(const ShapedArray<float>& melspectrogram_features)
    : melspectrogram_features(melspectrogram_features.multiArray())
{
}

std::vector<std::string> AudioEncoderInput::featureNames() const { return {"melspectrogram_features"}; }

std::optional<ml::MultiArray> AudioEncoderInput::featureValue(const std::string& name) const
{
    if (name == "melspectrogram_features") return melspectrogram_features;
    return std::nullopt;
}

AudioEncoderOutput::AudioEncoderOutput(ml::MultiArray encoder_output_embeds)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(
          std::map<std::string, ml::MultiArray> {{"encoder_output_embeds", std::move(encoder_output_embeds)}}))
{
}

AudioEncoderOutput::AudioEncoderOutput(std::shared_ptr<const ml::FeatureProvider> features)
    : provider(std::move(features))
{
}

AudioEncoderOutput::AudioEncoderOutput(ml::DictionaryFeatureProvider features)
    : provider(std::make_shared<ml::DictionaryFeatureProvider>(std::move(features)))
{
}

ml::MultiArray AudioEncoderOutput::encoder_output_embeds() const
{
    return requiredModelOutput(provider, "encoder_output_embeds");
}

ShapedArray<ml::Float16> AudioEncoderOutput::encoder_output_embedsShapedArray() const
{
    return ShapedArray<ml::Float16>(encoder_output_embeds());
}

std::vector<std::string> AudioEncoderOutput::featureNames() const { return providerFeatureNames(provider); }

std::optional<ml::MultiArray> AudioEncoderOutput::featureValue(const std::string& name) const
{
    return optionalModelOutput(provider, name);
}

} // namespace auris
