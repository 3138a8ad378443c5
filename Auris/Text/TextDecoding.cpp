#include "Auris/Text/TextDecoding.hpp"

#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Models/TextDecoderCachePrefillFeatures.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "Auris/Utilities/TextFormatting.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace auris {

namespace {

using ml::MultiArrayDataType;

// The last `limit` tokens that are ordinary text (below the first special id and not negative).
std::vector<int> textTokensOf(const std::vector<int>& tokens, std::size_t limit, int specialTokenBegin)
{
    const std::size_t start = tokens.size() > limit ? tokens.size() - limit : 0;
    std::vector<int> kept;
    for (std::size_t i = start; i < tokens.size(); ++i) {
        if (tokens[i] >= 0 && tokens[i] < specialTokenBegin) {
            kept.push_back(tokens[i]);
        }
    }
    return kept;
}

ml::MultiArray int32Scalar(int value)
{
    const std::int32_t stored = value;
    return ml::MultiArray::fromValues<std::int32_t>({1}, std::span<const std::int32_t>(&stored, 1));
}

std::string shapeText(const std::vector<int>& shape)
{
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(shape[i]);
    }
    return text + "]";
}

void requireCacheLayout(const ml::MultiArray& array, const char* name)
{
    if (array.isEmpty() || array.shape().size() != 4) {
        throw WhisperError::decodingFailed(
            std::string("Key-value cache update: ") + name + " must have four dimensions, got " + shapeText(array.shape()));
    }
}

} // namespace

std::optional<DecodingCache> TextDecoding::prefillKVCache(
    const ml::MultiArray& task, const ml::MultiArray& language, std::stop_token stopToken)
{
    const TextDecoderCachePrefillInput input(task, language);
    const auto prefill = prefillData();
    const auto model = prefill ? prefill->model() : nullptr;
    if (!model) {
        return std::nullopt;
    }
    checkCancellation(stopToken);
    const TextDecoderCachePrefillOutput output(model->prediction(input));
    return DecodingCache {output.key_cache_prefill(), output.value_cache_prefill(), std::nullopt};
}

std::vector<DecodingResult> TextDecoding::decodeTexts(const ml::MultiArray& encoderOutput,
    DecodingInputs decoderInputs, TokenSampling& sampler, const DecodingOptions& options, ProgressCallback callback,
    std::stop_token stopToken)
{
    return {decodeText(encoderOutput, std::move(decoderInputs), sampler, options, std::move(callback), stopToken)};
}

std::vector<DecodingResult> TextDecoding::detectLanguages(const ml::MultiArray& encoderOutput,
    DecodingInputs decoderInputs, TokenSampling& sampler, const DecodingOptions& options, float temperature,
    std::stop_token stopToken)
{
    return {detectLanguage(encoderOutput, std::move(decoderInputs), sampler, options, temperature, stopToken)};
}

void TextDecoding::updateKVCache(const ml::MultiArray& keyTensor, const ml::MultiArray& keySlice,
    const ml::MultiArray& valueTensor, const ml::MultiArray& valueSlice, int insertAtIndex)
{
    requireCacheLayout(keyTensor, "the key cache");
    requireCacheLayout(valueTensor, "the value cache");
    requireCacheLayout(keySlice, "the key update");
    requireCacheLayout(valueSlice, "the value update");
    const auto type = keyTensor.dataType();
    if (valueTensor.dataType() != type || keySlice.dataType() != type || valueSlice.dataType() != type) {
        throw WhisperError::decodingFailed("Key-value cache update: the caches and updates differ in element type");
    }
    const auto& tensorShape = keyTensor.shape();
    const auto& sliceShape = keySlice.shape();
    if (valueTensor.shape() != tensorShape || valueSlice.shape() != sliceShape) {
        throw WhisperError::decodingFailed("Key-value cache update: the key and value arrays differ in shape");
    }
    const int rows = tensorShape[1];
    const int positions = sliceShape[3];
    if (sliceShape[1] != rows || insertAtIndex < 0
        || static_cast<long long>(insertAtIndex) + positions > static_cast<long long>(tensorShape[3])) {
        throw WhisperError::decodingFailed("Key-value cache update: " + std::to_string(positions)
            + " positions of " + shapeText(sliceShape) + " at index " + std::to_string(insertAtIndex)
            + " do not fit a cache of " + shapeText(tensorShape));
    }

    // Raw element copies: every array keeps its own strides and nothing is converted.
    const std::size_t size = ml::elementSize(type);
    const auto* keySource = static_cast<const unsigned char*>(keySlice.dataPointer());
    const auto* valueSource = static_cast<const unsigned char*>(valueSlice.dataPointer());
    auto* keyTarget = static_cast<unsigned char*>(keyTensor.dataPointer());
    auto* valueTarget = static_cast<unsigned char*>(valueTensor.dataPointer());
    const auto& ks = keySlice.strides();
    const auto& vs = valueSlice.strides();
    const auto& tk = keyTensor.strides();
    const auto& tv = valueTensor.strides();
    const auto copyElements = [&]<std::size_t Size>() {
        for (int e = 0; e < rows; ++e) {
            for (int p = 0; p < positions; ++p) {
                const auto position = static_cast<std::size_t>(insertAtIndex + p);
                const std::size_t keyFrom = static_cast<std::size_t>(e) * ks[1] + static_cast<std::size_t>(p) * ks[3];
                const std::size_t valueFrom = static_cast<std::size_t>(e) * vs[1] + static_cast<std::size_t>(p) * vs[3];
                const std::size_t keyTo = static_cast<std::size_t>(e) * tk[1] + position * tk[3];
                const std::size_t valueTo = static_cast<std::size_t>(e) * tv[1] + position * tv[3];
                std::memcpy(keyTarget + keyTo * Size, keySource + keyFrom * Size, Size);
                std::memcpy(valueTarget + valueTo * Size, valueSource + valueFrom * Size, Size);
            }
        }
    };
    // A fixed element size lets each copy be one move: a step writes a column of every row.
    switch (size) {
    case 2: copyElements.operator()<2>(); break;
    case 4: copyElements.operator()<4>(); break;
    default: copyElements.operator()<8>(); break;
    }
}

DecodingInputs TextDecoding::prepareDecoderInputs(const std::vector<int>& prompt) const
{
    const auto embedDim = kvCacheEmbedDim();
    if (!embedDim || *embedDim <= 0) {
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheEmbedDim");
    }
    const auto maxSequenceLength = kvCacheMaxSequenceLength();
    if (!maxSequenceLength || *maxSequenceLength <= 0) {
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheMaxSequenceLength");
    }
    const auto encoderOutputDim = windowSize();
    if (!encoderOutputDim || *encoderOutputDim <= 0) {
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine encoderOutputDim");
    }
    const int e = *embedDim;
    const int s = *maxSequenceLength;
    const int w = *encoderOutputDim;

    DecodingInputs inputs;
    inputs.initialPrompt = prompt;
    inputs.inputIds = makeMultiArray({1}, MultiArrayDataType::int32, 0);
    inputs.cacheLength = makeMultiArray({1}, MultiArrayDataType::int32, 0);
    inputs.keyCache = makeMultiArray({1, e, 1, s}, MultiArrayDataType::float16, 0);
    inputs.valueCache = makeMultiArray({1, e, 1, s}, MultiArrayDataType::float16, 0);
    inputs.alignmentWeights = makeMultiArray({s, w}, MultiArrayDataType::float16, 0);
    inputs.kvCacheUpdateMask = makeMultiArray({1, s}, MultiArrayDataType::int32, 0);
    inputs.decoderKeyPaddingMask = makeMultiArray({1, s}, MultiArrayDataType::float16, -10000);
    inputs.prefillKeyCache = ml::MultiArray({1, e, 1, s}, MultiArrayDataType::float16);
    inputs.prefillValueCache = ml::MultiArray({1, e, 1, s}, MultiArrayDataType::float16);
    return inputs;
}

DecodingInputs TextDecoding::prefillDecoderInputs(
    DecodingInputs decoderInputs, const std::optional<DecodingOptions>& options, std::stop_token stopToken)
{
    const auto whisperTokenizer = tokenizer();
    if (!whisperTokenizer) {
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    }
    const SpecialTokens& special = whisperTokenizer->specialTokens();
    std::vector<int> prefillTokens {special.startOfTranscriptToken};
    if (!options) {
        decoderInputs.initialPrompt = prefillTokens;
        return decoderInputs;
    }

    int languageToken = special.englishToken;
    int taskToken = special.transcribeToken;
    if (isModelMultilingual()) {
        const std::string code = options->language.value_or("en");
        languageToken = whisperTokenizer->knownTokenId("<|" + code + "|>").value_or(special.englishToken);
        prefillTokens.push_back(languageToken);
        const std::string task = options->task == DecodingTask::translate ? "translate" : "transcribe";
        taskToken = whisperTokenizer->knownTokenId("<|" + task + "|>").value_or(special.transcribeToken);
        prefillTokens.push_back(taskToken);
    }
    prefillTokens.push_back(options->withoutTimestamps ? special.noTimestampsToken : special.timeTokenBegin);

    if (options->promptTokens) {
        std::vector<int> previous {special.startOfPreviousToken};
        const auto kept = textTokensOf(*options->promptTokens, maxPromptTokens, special.specialTokenBegin);
        previous.insert(previous.end(), kept.begin(), kept.end());
        prefillTokens.insert(prefillTokens.begin(), previous.begin(), previous.end());
    }
    if (options->prefixTokens) {
        const auto kept = textTokensOf(*options->prefixTokens, maxPrefixTokens, special.specialTokenBegin);
        prefillTokens.insert(prefillTokens.end(), kept.begin(), kept.end());
    }
    decoderInputs.initialPrompt = prefillTokens;

    if (!options->usePrefillCache || !prefillData() || options->promptTokens) {
        return decoderInputs;
    }
    const auto cache = prefillKVCache(
        int32Scalar(taskToken != special.transcribeToken ? 1 : 0), int32Scalar(languageToken), stopToken);
    if (!cache || !cache->keyCache || !cache->valueCache) {
        Logging::error("Unable to prefill cache");
        return decoderInputs;
    }
    decoderInputs.prefillKeyCache = *cache->keyCache;
    decoderInputs.prefillValueCache = *cache->valueCache;
    if (decoderInputs.prefillKeyCache.shape().size() != 4) {
        throw WhisperError::prefillFailed("The prefilled key cache has shape "
            + shapeText(decoderInputs.prefillKeyCache.shape()) + ", four dimensions were expected");
    }
    const auto& prompt = decoderInputs.initialPrompt;
    const auto start = std::find(prompt.begin(), prompt.end(), special.startOfTranscriptToken);
    const int insertIndex = start == prompt.end() ? 0 : static_cast<int>(start - prompt.begin());
    updateKVCache(decoderInputs.keyCache, decoderInputs.prefillKeyCache, decoderInputs.valueCache,
        decoderInputs.prefillValueCache, insertIndex);
    decoderInputs.cacheLength.setLinear(0, decoderInputs.prefillKeyCache.shape()[3]);
    return decoderInputs;
}

void TextDecoding::debugCaches(const DecodingInputs& decoderInputs, int /*tokenIndex*/, int prefillSize) const
{
    if (!Logging::writes(Logging::LogLevel::debug)) {
        return;
    }
    // Out-of-range positions read as 0 rather than fail: the table is only a diagnostic.
    auto at = [](const ml::MultiArray& array, long long index) {
        return index >= 0 && static_cast<std::size_t>(index) < array.count() ? array[static_cast<std::size_t>(index)]
                                                                               : 0.0;
    };
    Logging::debug("--------------- DECODER INPUTS DEBUG ---------------");
    Logging::debug(formatString(
        "Cache Length: %2.0f Input Token: %4.0f", at(decoderInputs.cacheLength, 0), at(decoderInputs.inputIds, 0)));
    Logging::debug("Key Cache | Val Cache | Align Cache | Update Mask | Decoder Mask | Position");
    const auto& alignmentShape = decoderInputs.alignmentWeights.shape();
    const long long alignmentRow = alignmentShape.size() == 2 ? alignmentShape[1] : 1500;
    const int rows = std::min(prefillSize + 4, 224);
    for (int i = 0; i < rows; ++i) {
        Logging::debug(formatString("%9.6f | %9.6f | %9.6f | %11.0f | %12.0f | %d", at(decoderInputs.keyCache, i),
            at(decoderInputs.valueCache, i), at(decoderInputs.alignmentWeights, i * alignmentRow),
            at(decoderInputs.kvCacheUpdateMask, i), at(decoderInputs.decoderKeyPaddingMask, i), i));
    }
}

} // namespace auris
