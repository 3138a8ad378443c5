#include "Auris/Features/FeatureExtractor.hpp"

#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Models/MelSpectrogramFeatures.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "Auris/Utilities/Signposts.hpp"

namespace auris {

std::optional<int> FeatureExtractor::melCount() const
{
    return modelOutputDimension(model(), "melspectrogram_features", 1);
}

std::optional<ml::MultiArray> FeatureExtractor::logMelSpectrogram(const ml::MultiArray& audio, std::stop_token stopToken)
{
    const auto loaded = model();
    if (!loaded) {
        throw WhisperError::modelsUnavailable();
    }
    checkCancellation(stopToken);
    SignpostInterval interval("ExtractAudioFeatures", featureExtractorSignposter());
    const MelSpectrogramInput input(audio);
    const MelSpectrogramOutput output(loaded->prediction(input));
    return output.melspectrogram_features();
}

} // namespace auris
