#include "Auris/Text/TextDecoder.hpp"
#include "Auris/Utilities/Clock.hpp"

#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Filters/SuppressBlankFilter.hpp"
#include "Auris/Filters/SuppressTokensFilter.hpp"
#include "Auris/Filters/TimestampRulesFilter.hpp"
#include "Auris/Models/TextDecoderFeatures.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Utilities/CompressionRatio.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "Auris/Utilities/TextFormatting.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <numeric>

namespace auris {

namespace {

std::string makeWindowId()
{
    unsigned char bytes[16];
    arc4random_buf(bytes, sizeof bytes);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += formatString("%02X", bytes[i]);
    }
    return text;
}

std::string trimmedLanguageCode(const std::string& text)
{
    const auto delimiters = Constants::specialTokenDelimiters;
    const auto first = text.find_first_not_of(delimiters);
    if (first == std::string::npos) {
        return "";
    }
    const auto last = text.find_last_not_of(delimiters);
    return text.substr(first, last - first + 1);
}

// Filters and samplers work on a float32 [1, 1, V] vector; other layouts are copied into one.
ml::MultiArray floatLogits(const ml::MultiArray& logits)
{
    const auto& shape = logits.shape();
    if (logits.dataType() == ml::MultiArrayDataType::float32 && shape.size() == 3 && shape[0] == 1 && shape[1] == 1) {
        return logits;
    }
    const std::vector<float> values = logits.toFloats();
    return ml::MultiArray::fromValues<float>({1, 1, static_cast<int>(values.size())}, std::span<const float>(values));
}

std::optional<int> timestampIndex(std::optional<float> seconds)
{
    if (!seconds) {
        return std::nullopt;
    }
    const double index = std::trunc(static_cast<double>(*seconds) / 0.02);
    if (std::isnan(index)) {
        return std::nullopt;
    }
    return static_cast<int>(std::clamp(index, 0.0, static_cast<double>(std::numeric_limits<int>::max())));
}

float mean(const std::vector<float>& values)
{
    if (values.empty()) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    double sum = 0;
    for (float value : values) {
        sum += value;
    }
    return static_cast<float>(sum / static_cast<double>(values.size()));
}

int arraySize(const ml::MultiArray& array, std::size_t axis)
{
    return axis < array.shape().size() ? array.shape()[axis] : 0;
}

// Removes the window's early-stop entry when decoding leaves by an error.
class WindowEntry {
public:
    WindowEntry(TextDecoder::EarlyStopTable& table, std::string windowId)
        : table_(table)
        , windowId_(std::move(windowId))
    {
        table_.insert(windowId_);
    }
    ~WindowEntry()
    {
        if (!finished_) {
            table_.remove(windowId_);
        }
    }
    WindowEntry(const WindowEntry&) = delete;
    WindowEntry& operator=(const WindowEntry&) = delete;

    const std::string& windowId() const { return windowId_; }
    void finish()
    {
        finished_ = true;
        if (!table_.remove(windowId_)) {
            Logging::error("Early stop flag not found for window: " + windowId_);
        }
    }

private:
    TextDecoder::EarlyStopTable& table_;
    std::string windowId_;
    bool finished_ = false;
};

} // namespace

void TextDecoder::EarlyStopTable::insert(const std::string& windowId)
{
    std::lock_guard lock(mutex_);
    flags_[windowId] = false;
}

void TextDecoder::EarlyStopTable::requestStop(const std::string& windowId)
{
    std::lock_guard lock(mutex_);
    if (auto it = flags_.find(windowId); it != flags_.end()) {
        it->second = true;
    }
}

bool TextDecoder::EarlyStopTable::shouldStop(const std::string& windowId) const
{
    std::lock_guard lock(mutex_);
    auto it = flags_.find(windowId);
    return it != flags_.end() && it->second;
}

bool TextDecoder::EarlyStopTable::remove(const std::string& windowId)
{
    std::lock_guard lock(mutex_);
    return flags_.erase(windowId) > 0;
}

std::size_t TextDecoder::EarlyStopTable::count() const
{
    std::lock_guard lock(mutex_);
    return flags_.size();
}

TextDecoder::TextDecoder()
    : TextDecoder(std::make_shared<SerialProgressQueue>())
{
}

TextDecoder::TextDecoder(std::shared_ptr<ProgressQueue> progressQueue)
    : progressQueue_(progressQueue ? std::move(progressQueue) : std::make_shared<SerialProgressQueue>())
{
}

TextDecoder::~TextDecoder() = default;

std::shared_ptr<const WhisperTokenizer> TextDecoder::tokenizer() const
{
    std::lock_guard lock(fieldsMutex_);
    return tokenizer_;
}

void TextDecoder::setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer)
{
    std::lock_guard lock(fieldsMutex_);
    tokenizer_ = std::move(tokenizer);
}

std::shared_ptr<WhisperMLModel> TextDecoder::prefillData() const
{
    std::lock_guard lock(fieldsMutex_);
    return prefillData_;
}

void TextDecoder::setPrefillData(std::shared_ptr<WhisperMLModel> prefillData)
{
    std::lock_guard lock(fieldsMutex_);
    prefillData_ = std::move(prefillData);
}

bool TextDecoder::isModelMultilingual() const
{
    std::lock_guard lock(fieldsMutex_);
    return isModelMultilingual_;
}

void TextDecoder::setIsModelMultilingual(bool isModelMultilingual)
{
    std::lock_guard lock(fieldsMutex_);
    isModelMultilingual_ = isModelMultilingual;
}

bool TextDecoder::supportsWordTimestamps() const
{
    const auto loaded = model();
    return loaded && loaded->modelDescription().output("alignment_heads_weights") != nullptr;
}

std::optional<int> TextDecoder::logitsSize() const { return modelOutputDimension(model(), "logits", 2); }

std::optional<int> TextDecoder::kvCacheEmbedDim() const { return modelInputDimension(model(), "key_cache", 1); }

std::optional<int> TextDecoder::kvCacheMaxSequenceLength() const
{
    return modelInputDimension(model(), "key_cache", 3);
}

std::optional<int> TextDecoder::windowSize() const { return modelInputDimension(model(), "encoder_output_embeds", 3); }

std::optional<int> TextDecoder::embedSize() const { return modelInputDimension(model(), "encoder_output_embeds", 1); }

void TextDecoder::unloadModel()
{
    WhisperMLModel::unloadModel();
    std::lock_guard lock(fieldsMutex_);
    prefillData_ = nullptr;
    languageLogitsFilter_ = nullptr;
}

std::optional<LogitsPrediction> TextDecoder::predictLogits(const ml::MultiArray& inputIds,
    const ml::MultiArray& cacheLength, const ml::MultiArray& keyCache, const ml::MultiArray& valueCache,
    const ml::MultiArray& kvCacheUpdateMask, const ml::MultiArray& encoderOutputEmbeds,
    const ml::MultiArray& decoderKeyPaddingMask, std::stop_token stopToken)
{
    const TextDecoderInput input(
        inputIds, cacheLength, keyCache, valueCache, kvCacheUpdateMask, encoderOutputEmbeds, decoderKeyPaddingMask);
    const auto loaded = model();
    if (!loaded) {
        return std::nullopt;
    }
    checkCancellation(stopToken);
    const TextDecoderOutput output(loaded->prediction(input));
    return LogitsPrediction {output.logits(),
        DecodingCache {output.key_cache_updates(), output.value_cache_updates(), output.alignment_heads_weights()}};
}

std::shared_ptr<const LanguageLogitsFilter> TextDecoder::languageFilter(
    const std::set<int>& languageTokens, int logitsDim)
{
    std::lock_guard lock(fieldsMutex_);
    if (!languageLogitsFilter_ || languageLogitsFilter_->logitsDim != logitsDim
        || languageLogitsFilter_->allLanguageTokens != languageTokens) {
        // Acts on the one-token list [start of transcript], so detection picks among language tokens.
        languageLogitsFilter_ = std::make_shared<LanguageLogitsFilter>(languageTokens, logitsDim, 1);
    }
    return languageLogitsFilter_;
}

DecodingResult TextDecoder::decodeText(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
    TokenSampling& sampler, const DecodingOptions& options, ProgressCallback callback, std::stop_token stopToken)
{
    const auto whisperTokenizer = tokenizer();
    if (!whisperTokenizer) {
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    }
    const SpecialTokens special = whisperTokenizer->specialTokens();
    const std::vector<int> prompt = decoderInputs.initialPrompt;
    if (prompt.empty()) {
        throw WhisperError::decodingFailed("The decoder inputs hold no prompt");
    }
    if (decoderInputs.cacheLength.count() < 1 || decoderInputs.inputIds.count() < 1) {
        throw WhisperError::decodingFailed("The decoder inputs hold no cache length or input id");
    }
    const double cacheLengthValue = decoderInputs.cacheLength[0];
    if (!(cacheLengthValue >= 0)) {
        throw WhisperError::decodingFailed("The decoder inputs hold a negative cache length");
    }
    const int prefilledIndex = static_cast<int>(std::min(cacheLengthValue, 1e9));
    const int promptCount = static_cast<int>(prompt.size());
    // The first step whose sampled token is kept; earlier steps only feed the prompt.
    const int firstSampledIndex = std::max(prefilledIndex, promptCount - 1);

    std::vector<int> currentTokens = prompt;
    std::vector<float> logProbs(prompt.size(), 0.0f);
    int nextToken = prompt.back();

    std::vector<std::unique_ptr<LogitsFiltering>> filters;
    if (options.suppressBlank) {
        filters.push_back(std::make_unique<SuppressBlankFilter>(special, promptCount));
    }
    if (!options.supressTokens.empty()) {
        std::vector<int> suppressed;
        const auto vocabulary = logitsSize();
        for (int token : options.supressTokens) {
            if (token < 0 || (vocabulary && token >= *vocabulary)) {
                Logging::error("Ignoring suppressed token " + std::to_string(token) + " outside the vocabulary");
            } else {
                suppressed.push_back(token);
            }
        }
        filters.push_back(std::make_unique<SuppressTokensFilter>(std::move(suppressed)));
    }
    if (!options.withoutTimestamps) {
        filters.push_back(std::make_unique<TimestampRulesFilter>(
            special, promptCount, timestampIndex(options.maxInitialTimestamp), isModelMultilingual()));
    }

    int loopLimit = std::min(options.sampleLength, maxTokenCount);
    // Each step writes its cache column and the masks one position further.
    const int positions = std::min({arraySize(decoderInputs.keyCache, 3), arraySize(decoderInputs.valueCache, 3),
        static_cast<int>(std::min<std::size_t>(decoderInputs.kvCacheUpdateMask.count(), 1u << 30)),
        static_cast<int>(std::min<std::size_t>(decoderInputs.decoderKeyPaddingMask.count(), 1u << 30))});
    if (positions < 1) {
        throw WhisperError::decodingFailed("The decoder inputs hold no cache positions");
    }
    loopLimit = std::min(loopLimit, positions - 1);
    Logging::debug("Running main loop for a maximum of " + std::to_string(loopLimit) + " iterations, starting at index "
        + std::to_string(prefilledIndex));

    WindowEntry entry(*shouldEarlyStop_, makeWindowId());
    const std::weak_ptr<EarlyStopTable> weakTable = shouldEarlyStop_;

    TranscriptionTimings timings;
    bool isFirstTokenLogProbTooLow = false;
    bool hasAlignment = false;
    const int alignmentRows = arraySize(decoderInputs.alignmentWeights, 0);
    const int alignmentColumns = arraySize(decoderInputs.alignmentWeights, 1);

    for (int tokenIndex = prefilledIndex; tokenIndex < loopLimit; ++tokenIndex) {
        const auto loopStart = Clock::now();
        const bool isPrefill = tokenIndex < promptCount - 1;
        int inputToken = nextToken;
        if (tokenIndex < promptCount) {
            inputToken = prompt[static_cast<std::size_t>(tokenIndex)];
            if (Logging::writes(Logging::LogLevel::debug)) {
                Logging::debug("Forcing prompt tokenIndex: " + std::to_string(tokenIndex) + ", token: "
                    + std::to_string(inputToken) + ", text: " + whisperTokenizer->decode({inputToken}));
            }
        }
        decoderInputs.inputIds.setLinear(0, inputToken);
        decoderInputs.cacheLength.setLinear(0, tokenIndex);
        if (tokenIndex <= prefilledIndex + 3 && Logging::writes(Logging::LogLevel::debug)) {
            debugCaches(decoderInputs, tokenIndex, prefilledIndex);
        }

        const auto predictionStart = Clock::now();
        checkCancellation(stopToken);
        const auto prediction = predictLogits(decoderInputs.inputIds, decoderInputs.cacheLength,
            decoderInputs.keyCache, decoderInputs.valueCache, decoderInputs.kvCacheUpdateMask, encoderOutput,
            decoderInputs.decoderKeyPaddingMask, stopToken);
        if (!prediction || !prediction->logits || !prediction->cache) {
            throw WhisperError::decodingLogitsFailed("Unable to decode logits");
        }
        timings.decodingPredictions += secondsSince(predictionStart);
        const auto nonPredictionStart = Clock::now();

        const auto filteringStart = Clock::now();
        ml::MultiArray logits = floatLogits(*prediction->logits);
        for (const auto& filter : filters) {
            logits = filter->filterLogits(logits, currentTokens);
        }
        timings.decodingFiltering += secondsSince(filteringStart);

        const auto samplingStart = Clock::now();
        const SamplingResult sampled = sampler.update(currentTokens, logits, logProbs);
        timings.decodingSampling += secondsSince(samplingStart);
        if (sampled.tokens.empty() || sampled.logProbs.empty()) {
            throw WhisperError::decodingFailed("The sampler returned no token");
        }
        nextToken = sampled.tokens.back();
        const float nextLogProb = sampled.logProbs.back();
        if (Logging::writes(Logging::LogLevel::debug)) {
            Logging::debug("Predicted next tokenIndex: " + std::to_string(tokenIndex + 1) + ", token: "
                + std::to_string(nextToken) + ", text: " + whisperTokenizer->decode({nextToken}));
        }
        timings.totalDecodingLoops += 1;

        // Tokens predicted while the prompt is still fed are discarded, so they neither end the
        // window nor judge its first token.
        const bool isSampledStep = tokenIndex >= firstSampledIndex;
        isFirstTokenLogProbTooLow = tokenIndex == firstSampledIndex && options.firstTokenLogProbThreshold
            && *options.firstTokenLogProbThreshold > nextLogProb;
        if ((isSampledStep && sampled.completed) || isFirstTokenLogProbTooLow
            || static_cast<int>(currentTokens.size()) >= maxTokenCount) {
            timings.decodingNonPrediction += secondsSince(nonPredictionStart);
            timings.decodingLoop += secondsSince(loopStart);
            break;
        }
        if (tokenIndex >= promptCount - 1) {
            currentTokens.push_back(nextToken);
            logProbs.push_back(nextLogProb);
        }

        const auto& cache = *prediction->cache;
        if (!cache.keyCache || !cache.valueCache) {
            throw WhisperError::decodingLogitsFailed("Unable to decode logits");
        }
        const auto kvStart = Clock::now();
        updateKVCache(decoderInputs.keyCache, *cache.keyCache, decoderInputs.valueCache, *cache.valueCache, tokenIndex);
        timings.decodingKvCaching += secondsSince(kvStart);
        timings.totalKVUpdateRuns += 1;
        decoderInputs.decoderKeyPaddingMask.setLinear(static_cast<std::size_t>(tokenIndex) + 1, 0);
        decoderInputs.kvCacheUpdateMask.setLinear(static_cast<std::size_t>(tokenIndex), 0);
        decoderInputs.kvCacheUpdateMask.setLinear(static_cast<std::size_t>(tokenIndex) + 1, 1);

        if (cache.alignmentWeights && tokenIndex + 1 < alignmentRows) {
            const ml::MultiArray& weights = *cache.alignmentWeights;
            const int columns = static_cast<int>(std::min<std::size_t>(weights.count(), alignmentColumns));
            for (int column = 0; column < columns; ++column) {
                decoderInputs.alignmentWeights.setValue(
                    {tokenIndex + 1, column}, weights[static_cast<std::size_t>(column)]);
            }
            hasAlignment = true;
        }

        if (callback) {
            std::vector<int> textTokens;
            if (options.skipSpecialTokens) {
                std::copy_if(currentTokens.begin(), currentTokens.end(), std::back_inserter(textTokens),
                    [&](int token) { return token < special.specialTokenBegin; });
            } else {
                textTokens = currentTokens;
            }
            TranscriptionProgress progress;
            progress.timings = timings;
            progress.text = whisperTokenizer->decode(textTokens);
            progress.tokens = currentTokens;
            progress.avgLogprob = mean(logProbs);
            progress.compressionRatio = compressionRatio(currentTokens);
            progress.windowId = 0;
            progressQueue_->post([weakTable, windowId = entry.windowId(), callback, progress, isPrefill] {
                const auto table = weakTable.lock();
                if (!table) {
                    return;
                }
                const auto answer = callback(progress);
                if (answer && !*answer && !isPrefill) {
                    Logging::debug("Early stopping");
                    table->requestStop(windowId);
                }
            });
        }

        if (tokenIndex == prefilledIndex) {
            Logging::debug("Found first token at: " + currentDateText());
            timings.firstTokenTime = absoluteTimeNow();
        }
        timings.decodingNonPrediction += secondsSince(nonPredictionStart);
        timings.decodingLoop += secondsSince(loopStart);

        if (shouldEarlyStop_->shouldStop(entry.windowId())) {
            break;
        }
    }

    entry.finish();

    DecodingCache resultCache {decoderInputs.keyCache, decoderInputs.valueCache,
        hasAlignment ? std::optional<ml::MultiArray>(decoderInputs.alignmentWeights) : std::nullopt};

    const SamplingResult finalized = sampler.finalize(currentTokens, logProbs);
    const auto& finalTokens = finalized.tokens;
    const auto startIt = std::find(finalTokens.begin(), finalTokens.end(), special.startOfTranscriptToken);
    const std::size_t segmentStart = startIt == finalTokens.end() ? 0 : static_cast<std::size_t>(startIt - finalTokens.begin());
    const auto endIt = std::find(finalTokens.begin() + static_cast<std::ptrdiff_t>(segmentStart), finalTokens.end(),
        special.endToken);
    const std::size_t segmentEnd
        = endIt == finalTokens.end() ? finalTokens.size() : static_cast<std::size_t>(endIt - finalTokens.begin()) + 1;
    const std::vector<int> segmentTokens(finalTokens.begin() + static_cast<std::ptrdiff_t>(segmentStart),
        finalTokens.begin() + static_cast<std::ptrdiff_t>(segmentEnd));
    std::vector<float> segmentLogProbs;
    for (std::size_t i = segmentStart; i < segmentEnd && i < finalized.logProbs.size(); ++i) {
        segmentLogProbs.push_back(finalized.logProbs[i]);
    }

    DecodingResult result;
    result.tokens = segmentTokens;
    result.avgLogProb = mean(segmentLogProbs);
    for (std::size_t j = 0; j < segmentLogProbs.size(); ++j) {
        result.tokenLogProbs.push_back({{segmentTokens[j], segmentLogProbs[j]}});
    }
    std::vector<int> textTokens;
    std::copy_if(segmentTokens.begin(), segmentTokens.end(), std::back_inserter(textTokens),
        [&](int token) { return token < special.specialTokenBegin; });
    result.compressionRatio = compressionRatio(textTokens);

    if (const auto* greedy = dynamic_cast<const GreedyTokenSampler*>(&sampler)) {
        result.temperature = static_cast<float>(std::round(static_cast<double>(greedy->temperature) * 1000.0) / 1000.0);
    } else {
        result.temperature = options.temperature;
    }

    if (options.language) {
        result.language = *options.language;
        result.languageProbs = {{*options.language, 0.0f}};
    } else {
        const auto& languageTokens = whisperTokenizer->allLanguageTokens();
        const auto languageIt = std::find_if(
            segmentTokens.begin(), segmentTokens.end(), [&](int token) { return languageTokens.contains(token); });
        if (languageIt != segmentTokens.end()) {
            const auto position = static_cast<std::size_t>(languageIt - segmentTokens.begin());
            result.language = trimmedLanguageCode(whisperTokenizer->decode({*languageIt}));
            float probability = 0.0f;
            if (position < result.tokenLogProbs.size()) {
                const auto& entryProbs = result.tokenLogProbs[position];
                if (auto found = entryProbs.find(*languageIt); found != entryProbs.end()) {
                    probability = found->second;
                }
            }
            result.languageProbs = {{result.language, probability}};
        } else {
            result.language = std::string(Constants::defaultLanguageCode);
            result.languageProbs = {{result.language, 0.0f}};
        }
    }

    result.text = whisperTokenizer->decode(segmentTokens);
    Logging::debug("Completed window: " + result.text);
    result.noSpeechProb = 0;
    result.cache = resultCache;
    result.timings = timings;
    result.fallback = DecodingFallback::make(options, isFirstTokenLogProbTooLow, 0, result.compressionRatio, result.avgLogProb);
    return result;
}

DecodingResult TextDecoder::detectLanguage(const ml::MultiArray& encoderOutput, DecodingInputs /*decoderInputs*/,
    TokenSampling& sampler, const DecodingOptions& /*options*/, float /*temperature*/, std::stop_token stopToken)
{
    const auto whisperTokenizer = tokenizer();
    if (!whisperTokenizer) {
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    }
    const auto logitsDim = logitsSize();
    if (!logitsDim) {
        throw WhisperError::modelsUnavailable("Failed to read logits size from model");
    }
    const SpecialTokens special = whisperTokenizer->specialTokens();
    const std::vector<int> tokens {special.startOfTranscriptToken};
    const std::vector<float> logProbs {0.0f};
    const auto filter = languageFilter(whisperTokenizer->allLanguageTokens(), *logitsDim);

    // A first step of its own: empty caches, only position 0 visible and written.
    DecodingInputs inputs = prepareDecoderInputs(tokens);
    inputs.kvCacheUpdateMask.setLinear(0, 1);
    inputs.decoderKeyPaddingMask.setLinear(0, 0);
    inputs.inputIds.setLinear(0, special.startOfTranscriptToken);
    inputs.cacheLength.setLinear(0, 0);
    Logging::debug("Detecting language...");

    TranscriptionTimings timings;
    timings.pipelineStart = std::numeric_limits<double>::max();
    timings.firstTokenTime = std::numeric_limits<double>::max();
    const auto predictionStart = Clock::now();
    const auto prediction = predictLogits(inputs.inputIds, inputs.cacheLength, inputs.keyCache, inputs.valueCache,
        inputs.kvCacheUpdateMask, encoderOutput, inputs.decoderKeyPaddingMask, stopToken);
    if (!prediction || !prediction->logits) {
        Logging::error("Unable to decode logits");
        throw WhisperError::decodingLogitsFailed("Unable to decode logits from the model output");
    }
    timings.decodingPredictions = secondsSince(predictionStart);

    ml::MultiArray logits = filter->filterLogits(floatLogits(*prediction->logits), tokens);
    const auto samplingStart = Clock::now();
    const SamplingResult sampled = sampler.update(tokens, logits, logProbs);
    timings.decodingSampling = secondsSince(samplingStart);

    DecodingResult result;
    const auto& languageTokens = whisperTokenizer->allLanguageTokens();
    for (std::size_t i = 0; i < sampled.tokens.size() && i < sampled.logProbs.size(); ++i) {
        if (languageTokens.contains(sampled.tokens[i])) {
            result.languageProbs[trimmedLanguageCode(whisperTokenizer->decode({sampled.tokens[i]}))]
                = sampled.logProbs[i];
        }
    }
    const std::string code
        = sampled.tokens.empty() ? std::string() : trimmedLanguageCode(whisperTokenizer->decode({sampled.tokens.back()}));
    if (Constants::languageCodes().contains(code)) {
        Logging::debug("Detected language: " + code);
        result.language = code;
    } else {
        const std::string fallback(Constants::defaultLanguageCode);
        Logging::error("Detected language " + code + " is not supported, defaulting to " + fallback);
        result.language = fallback;
    }
    result.timings = timings;
    return result;
}

} // namespace auris
