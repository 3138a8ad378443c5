#include "Auris/Features/AudioEncoder.hpp"

#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Models/AudioEncoderFeatures.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "Auris/Utilities/Signposts.hpp"

namespace auris {

std::optional<int> AudioEncoder::embedSize() const { return modelOutputDimension(model(), "encoder_output_embeds", 1); }

std::optional<int> AudioEncoder::sequenceLength() const
{
    return modelOutputDimension(model(), "encoder_output_embeds", 3);
}

std::optional<ml::MultiArray> AudioEncoder::encodeFeatures(const ml::MultiArray& features, std::stop_token stopToken)
{
    const auto loaded = model();
    if (!loaded) {
        throw WhisperError::modelsUnavailable();
    }
    checkCancellation(stopToken);
    SignpostInterval interval("EncodeAudio", audioEncodingSignposter());
    const AudioEncoderInput input(features);
    const AudioEncoderOutput output(loaded->prediction(input));
    return output.encoder_output_embeds();
}

} // namespace auris
