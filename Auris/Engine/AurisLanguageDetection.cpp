#include "Auris/Engine/Auris.hpp"

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"

namespace auris {

LanguageDetection Auris::detectLanguage(const std::string& audioPath)
{
    return detectLangauge(AudioProcessor::loadAudioSamples(audioPath, 0.0, std::nullopt));
}

LanguageDetection Auris::detectLangauge(const std::vector<float>& audioArray)
{
    ensureModelsLoaded();
    const auto decoder = textDecoder();
    if (!decoder->isModelMultilingual()) {
        throw WhisperError::decodingFailed("Language detection not supported for this model");
    }
    const auto currentTokenizer = tokenizer();
    if (!currentTokenizer) {
        throw WhisperError::tokenizerUnavailable();
    }

    const DecodingOptions options(DecodingOptions::Arguments {.detectLanguage = false});
    const SpecialTokens& special = currentTokenizer->specialTokens();
    auto decoderInputs = decoder->prepareDecoderInputs({special.startOfTranscriptToken});
    decoderInputs.kvCacheUpdateMask.setLinear(0, 1.0);
    decoderInputs.decoderKeyPaddingMask.setLinear(0, 0.0);

    const auto window = AudioProcessing::padOrTrimAudio(audioArray, 0, windowSamples, false);
    if (!window) {
        throw WhisperError::transcriptionFailed("Audio samples are nil");
    }
    const auto melOutput = featureExtractor()->logMelSpectrogram(*window);
    if (!melOutput) {
        throw WhisperError::transcriptionFailed("Mel output is nil");
    }
    const auto encoderOutput = audioEncoder()->encodeFeatures(*melOutput);
    if (!encoderOutput) {
        throw WhisperError::transcriptionFailed("Encoder output is nil");
    }

    GreedyTokenSampler sampler(0.0f, special.endToken, options);
    DecodingResult result;
    try {
        result = decoder->detectLanguage(*encoderOutput, decoderInputs, sampler, options, 0.0f);
    } catch (...) {
        throw WhisperError::decodingFailed("Language detection failed");
    }
    return {result.language, result.languageProbs};
}

} // namespace auris
