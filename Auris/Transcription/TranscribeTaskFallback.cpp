#include "Auris/Transcription/TranscribeTask.hpp"
#include "Auris/Utilities/Clock.hpp"

#include "Auris/Core/TimingFields.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/Signposts.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

namespace auris {

namespace {

void mergeDecoderTimings(TranscriptionTimings& timings, const TranscriptionTimings& decoder)
{
    using T = TranscriptionTimings;
    addTimings(timings, decoder,
        {&T::firstTokenTime, &T::decodingPredictions, &T::decodingFiltering, &T::decodingSampling,
            &T::decodingKvCaching, &T::decodingNonPrediction, &T::totalDecodingLoops, &T::totalKVUpdateRuns});
}

} // namespace

DecodingResult TranscribeTask::decodeWindowWithTemperatureFallback(const ml::MultiArray& encoderOutput,
    const DecodingOptions& options, RunState& state, const TextDecoding::ProgressCallback& progressRelay,
    std::stop_token stopToken)
{
    if (options.temperatureFallbackCount < 0) {
        throw WhisperError::decodingFailed("Decoding failed: temperatureFallbackCount must not be negative");
    }
    SignpostInterval interval("Decode", transcribeTaskSignposter());

    const long long attempts = static_cast<long long>(options.temperatureFallbackCount) + 1;
    auto temperatureAt = [&](long long index) {
        return options.temperature + static_cast<float>(index) * options.temperatureIncrementOnFallback;
    };
    if (Logging::shared().logLevel() <= Logging::LogLevel::debug) {
        std::string ladder = "[";
        for (long long i = 0; i < attempts; ++i) {
            ladder += (i ? ", " : "") + platform::numberText(temperatureAt(i));
        }
        Logging::debug("Decoding with temperatures " + ladder + "]");
    }

    const SpecialTokens& special = tokenizer_->specialTokens();
    const bool languageAbsent = !options.language.has_value();
    std::optional<DecodingResult> result;

    for (long long i = 0; i < attempts; ++i) {
        const float temperature = temperatureAt(i);
        Logging::info("Decoding Temperature: " + platform::numberText(temperature));
        const auto attemptStart = Clock::now();

        GreedyTokenSampler sampler(temperature, special.endToken, options);
        DecodingOptions attemptOptions = options;

        if (languageAbsent && textDecoder_->isModelMultilingual() && options.detectLanguage) {
            std::optional<DecodingResult> detection;
            try {
                detection = textDecoder_->detectLanguage(
                    encoderOutput, state.decoderInputs, sampler, options, temperature, stopToken);
            } catch (const std::exception& error) {
                // Decoding goes on without a language; the decoder then reports the one it finds.
                Logging::error(std::string("Language detection failed: ") + error.what());
            }
            attemptOptions.language = detection ? std::optional<std::string>(detection->language) : std::nullopt;
            state.detectedLanguage = attemptOptions.language;
            if (options.usePrefillPrompt) {
                state.decoderInputs = textDecoder_->prefillDecoderInputs(state.decoderInputs, attemptOptions, stopToken);
            }
            Logging::debug("Prefill prompt updated to: " + promptDescription(state.decoderInputs.initialPrompt));
            if (detection && detection->timings) {
                addTimings(timings_, *detection->timings,
                    {&TranscriptionTimings::decodingPredictions, &TranscriptionTimings::decodingSampling});
            }
        }

        result = textDecoder_->decodeText(
            encoderOutput, state.decoderInputs, sampler, attemptOptions, progressRelay, stopToken);
        if (!state.detectedLanguage) {
            state.detectedLanguage = result->language;
        }
        if (result->timings) {
            mergeDecoderTimings(timings_, *result->timings);
        }

        if (!result->fallback || !result->fallback->needsFallback) {
            break;
        }
        state.fallbackCount = static_cast<double>(i);
        timings_.decodingFallback += secondsSince(attemptStart);
        timings_.totalDecodingFallbacks = state.fallbackCount;
        publishCounters();
        resetDecoderInputs(state);
        Logging::info("Fallback #" + platform::numberText(state.fallbackCount + 1) + " ("
            + result->fallback->fallbackReason + ")");
    }

    if (!result) {
        throw WhisperError::decodingFailed("Decoding failed");
    }
    return std::move(*result);
}

} // namespace auris
