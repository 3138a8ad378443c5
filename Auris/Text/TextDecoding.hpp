#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/DecodingResult.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Models/DecodingInputs.hpp"
#include "Auris/Models/WhisperMLModel.hpp"
#include "Auris/Sampling/TokenSampling.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace auris {

// The outputs of one decoder step.
struct LogitsPrediction {
    std::optional<ml::MultiArray> logits;
    std::optional<DecodingCache> cache;
};

// The text decoder as the transcription task and the engine see it, with the input preparation,
// prompt, cache prefill and cache update shared by every implementation.
class TextDecoding {
public:
    // Answers false to stop the current window early; true or none to go on.
    using ProgressCallback = std::function<std::optional<bool>(const TranscriptionProgress&)>;

    // Most prompt tokens of previous text and of a prefix that a prompt carries.
    static constexpr std::size_t maxPromptTokens = 111;
    static constexpr std::size_t maxPrefixTokens = 112;

    virtual ~TextDecoding() = default;

    virtual std::shared_ptr<const WhisperTokenizer> tokenizer() const = 0;
    virtual void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) = 0;
    virtual std::shared_ptr<WhisperMLModel> prefillData() const = 0;
    virtual void setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) = 0;
    virtual bool isModelMultilingual() const = 0;
    virtual void setIsModelMultilingual(bool isModelMultilingual) = 0;

    virtual bool supportsWordTimestamps() const = 0;
    virtual std::optional<int> logitsSize() const = 0;
    virtual std::optional<int> kvCacheEmbedDim() const = 0;
    virtual std::optional<int> kvCacheMaxSequenceLength() const = 0;
    virtual std::optional<int> windowSize() const = 0;
    virtual std::optional<int> embedSize() const = 0;

    // One decoder prediction; none without a model.
    virtual std::optional<LogitsPrediction> predictLogits(const ml::MultiArray& inputIds,
        const ml::MultiArray& cacheLength, const ml::MultiArray& keyCache, const ml::MultiArray& valueCache,
        const ml::MultiArray& kvCacheUpdateMask, const ml::MultiArray& encoderOutputEmbeds,
        const ml::MultiArray& decoderKeyPaddingMask, std::stop_token stopToken = {})
        = 0;

    // The prompt's cache positions from the prefill model; none without one.
    virtual std::optional<DecodingCache> prefillKVCache(
        const ml::MultiArray& task, const ml::MultiArray& language, std::stop_token stopToken = {});

    // Decodes one window. The arrays of `decoderInputs` are shared and updated in place.
    virtual DecodingResult decodeText(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
        TokenSampling& sampler, const DecodingOptions& options, ProgressCallback callback = {},
        std::stop_token stopToken = {})
        = 0;
    virtual std::vector<DecodingResult> decodeTexts(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
        TokenSampling& sampler, const DecodingOptions& options, ProgressCallback callback = {},
        std::stop_token stopToken = {});

    virtual DecodingResult detectLanguage(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
        TokenSampling& sampler, const DecodingOptions& options, float temperature, std::stop_token stopToken = {})
        = 0;
    virtual std::vector<DecodingResult> detectLanguages(const ml::MultiArray& encoderOutput,
        DecodingInputs decoderInputs, TokenSampling& sampler, const DecodingOptions& options, float temperature,
        std::stop_token stopToken = {});

    // Copies the slices' positions into the cache tensors from `insertAtIndex` on. The four arrays
    // must be [1, E, 1, n] of one element type, the slices alike, and the positions must fit;
    // otherwise WhisperError::decodingFailed and nothing is written.
    static void updateKVCache(const ml::MultiArray& keyTensor, const ml::MultiArray& keySlice,
        const ml::MultiArray& valueTensor, const ml::MultiArray& valueSlice, int insertAtIndex);

    // Fresh input arrays sized from the model: empty caches, every position masked.
    DecodingInputs prepareDecoderInputs(const std::vector<int>& prompt) const;
    // Composes the prompt and, when asked and possible, fills the cache from the prefill model.
    DecodingInputs prefillDecoderInputs(DecodingInputs decoderInputs, const std::optional<DecodingOptions>& options,
        std::stop_token stopToken = {});
    void debugCaches(const DecodingInputs& decoderInputs, int tokenIndex, int prefillSize) const;
};

} // namespace auris
