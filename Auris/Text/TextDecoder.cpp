#include "Auris/Text/TextDecoder.hpp"
#include "Auris/Utilities/Clock.hpp"

#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Models/TextDecoderFeatures.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Text/TokenLoop.hpp"
#include "Auris/Utilities/CompressionRatio.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

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

LogitsPrediction logitsPrediction(ml::DictionaryFeatureProvider outputs)
{
    const TextDecoderOutput output(std::move(outputs));
    return LogitsPrediction {output.logits(),
        DecodingCache {output.key_cache_updates(), output.value_cache_updates(), output.alignment_heads_weights()}};
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

// One step's sampled token.
struct SampledToken {
    int token = 0;
    float logProb = 0;
    bool completed = false;
};

ml::MultiArray filteredLogits(TokenLoop& loop, const ml::MultiArray& predictedLogits)
{
    const StageTimer timer(loop.timings.decodingFiltering);
    ml::MultiArray logits = floatLogits(predictedLogits);
    for (const auto& filter : loop.filters) {
        logits = filter->filterLogits(logits, loop.tokens);
    }
    return logits;
}

SamplingResult sampled(TokenLoop& loop, const ml::MultiArray& logits)
{
    const StageTimer timer(loop.timings.decodingSampling);
    return loop.sampler.update(loop.tokens, logits, loop.logProbs);
}

SampledToken filterAndSample(TokenLoop& loop, int tokenIndex, const ml::MultiArray& predictedLogits)
{
    const SamplingResult result = sampled(loop, filteredLogits(loop, predictedLogits));
    if (result.tokens.empty() || result.logProbs.empty()) {
        throw WhisperError::decodingFailed("The sampler returned no token");
    }
    const SampledToken next {result.tokens.back(), result.logProbs.back(), result.completed};
    if (Logging::writes(Logging::LogLevel::debug)) {
        Logging::debug("Predicted next tokenIndex: " + std::to_string(tokenIndex + 1) + ", token: "
            + std::to_string(next.token) + ", text: " + loop.tokenizer->decode({next.token}));
    }
    return next;
}

bool endsWindow(TokenLoop& loop, int tokenIndex, const SampledToken& next)
{
    const auto end = TokenLoop::stepEnd(loop.bounds, tokenIndex, next.completed, next.logProb,
        loop.options.firstTokenLogProbThreshold, loop.tokens.size());
    loop.isFirstTokenLogProbTooLow = end.isFirstTokenLogProbTooLow;
    return end.endsWindow;
}

// Steps that feed the prompt sample a token only to carry the cache forward.
void keepToken(TokenLoop& loop, int tokenIndex, const SampledToken& next)
{
    if (tokenIndex >= loop.bounds.promptCount - 1) {
        loop.tokens.push_back(next.token);
        loop.logProbs.push_back(next.logProb);
    }
    loop.nextToken = next.token;
}

// The step's key and value columns go in at its index; the next position becomes visible and written.
void writeStepCache(TokenLoop& loop, int tokenIndex, const DecodingCache& cache)
{
    if (!cache.keyCache || !cache.valueCache) {
        throw WhisperError::decodingLogitsFailed("Unable to decode logits");
    }
    auto& inputs = loop.inputs;
    {
        const StageTimer timer(loop.timings.decodingKvCaching);
        TextDecoding::updateKVCache(inputs.keyCache, *cache.keyCache, inputs.valueCache, *cache.valueCache, tokenIndex);
    }
    loop.timings.totalKVUpdateRuns += 1;
    const auto position = static_cast<std::size_t>(tokenIndex);
    inputs.decoderKeyPaddingMask.setLinear(position + 1, 0);
    inputs.kvCacheUpdateMask.setLinear(position, 0);
    inputs.kvCacheUpdateMask.setLinear(position + 1, 1);
}

// Row i + 1 of the window's alignment weights holds the attention of the token sampled at step i.
void copyAlignmentRow(TokenLoop& loop, int tokenIndex, const DecodingCache& cache)
{
    auto& alignment = loop.inputs.alignmentWeights;
    if (!cache.alignmentWeights || tokenIndex + 1 >= axisLength(alignment, 0)) {
        return;
    }
    const ml::MultiArray& weights = *cache.alignmentWeights;
    const int columns = static_cast<int>(std::min<std::size_t>(weights.count(), axisLength(alignment, 1)));
    std::vector<float> converted;
    const float* values = weights.floatsInPlace(converted);
    if (alignment.isPacked() && alignment.dataType() == ml::MultiArrayDataType::float16) {
        // A row of a window's 1500 frames at every step: converted in one pass.
        auto* row = static_cast<std::uint16_t*>(alignment.dataPointer()) + alignment.offsetOf({tokenIndex + 1, 0});
        ml::floatToHalf(values, row, static_cast<std::size_t>(columns));
    } else {
        for (int column = 0; column < columns; ++column) {
            alignment.setValue({tokenIndex + 1, column}, values[column]);
        }
    }
    loop.hasAlignment = true;
}

void noteFirstToken(TokenLoop& loop, int tokenIndex)
{
    if (tokenIndex == loop.bounds.prefilledIndex) {
        Logging::debug("Found first token at: " + currentDateText());
        loop.timings.firstTokenTime = absoluteTimeNow();
    }
}

std::vector<int> textTokensOf(const std::vector<int>& tokens, int specialTokenBegin)
{
    std::vector<int> textTokens;
    std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(textTokens),
        [&](int token) { return token < specialTokenBegin; });
    return textTokens;
}

// A step's progress as the loop holds it; its text and compression ratio are made where the
// callback runs, off the way of the steps.
struct ProgressSnapshot {
    TranscriptionProgress progress;
    std::shared_ptr<const WhisperTokenizer> tokenizer;
    std::optional<int> textTokensBelow; // only tokens below it go into the text

    TranscriptionProgress completed() const
    {
        TranscriptionProgress full = progress;
        full.text = tokenizer->decode(textTokensBelow ? textTokensOf(full.tokens, *textTokensBelow) : full.tokens);
        full.compressionRatio = compressionRatio(full.tokens);
        return full;
    }
};

ProgressSnapshot progressOf(const TokenLoop& loop)
{
    ProgressSnapshot snapshot {.tokenizer = loop.tokenizer};
    if (loop.options.skipSpecialTokens) {
        snapshot.textTokensBelow = loop.special.specialTokenBegin;
    }
    snapshot.progress.timings = loop.timings;
    snapshot.progress.tokens = loop.tokens;
    snapshot.progress.avgLogprob = mean(loop.logProbs);
    snapshot.progress.windowId = 0;
    return snapshot;
}

float resultTemperature(const TokenSampling& sampler, const DecodingOptions& options)
{
    if (const auto* greedy = dynamic_cast<const GreedyTokenSampler*>(&sampler)) {
        return static_cast<float>(std::round(static_cast<double>(greedy->temperature) * 1000.0) / 1000.0);
    }
    return options.temperature;
}

DecodingResult windowResult(TokenLoop& loop)
{
    const auto& inputs = loop.inputs;
    const auto segment = TokenLoop::segment(loop.sampler.finalize(loop.tokens, loop.logProbs), loop.special);
    DecodingResult result;
    result.tokens = segment.tokens;
    result.avgLogProb = mean(segment.logProbs);
    for (std::size_t j = 0; j < segment.logProbs.size(); ++j) {
        result.tokenLogProbs.push_back({{segment.tokens[j], segment.logProbs[j]}});
    }
    result.compressionRatio = compressionRatio(textTokensOf(segment.tokens, loop.special.specialTokenBegin));
    result.temperature = resultTemperature(loop.sampler, loop.options);
    auto language = TokenLoop::language(loop.options.language, segment.tokens, result.tokenLogProbs, *loop.tokenizer);
    result.language = std::move(language.code);
    result.languageProbs = std::move(language.probs);
    result.text = loop.tokenizer->decode(segment.tokens);
    Logging::debug("Completed window: " + result.text);
    result.noSpeechProb = 0;
    result.cache = DecodingCache {inputs.keyCache, inputs.valueCache,
        loop.hasAlignment ? std::optional<ml::MultiArray>(inputs.alignmentWeights) : std::nullopt};
    result.timings = loop.timings;
    result.fallback = DecodingFallback::make(
        loop.options, loop.isFirstTokenLogProbTooLow, 0, result.compressionRatio, result.avgLogProb);
    return result;
}

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
    return logitsPrediction(loaded->prediction(input));
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
    TokenLoop loop = setUpLoop(encoderOutput, std::move(decoderInputs), sampler, options, std::move(callback), stopToken);
    WindowEntry entry(*shouldEarlyStop_, makeWindowId());
    loop.windowId = entry.windowId();
    runTokenLoop(loop);
    entry.finish();
    return windowResult(loop);
}

// A window's steps: each prediction's outputs are finished (filters, sampling, cache, progress)
// where the model runs them, which then writes the next step's input.
class TextDecoder::WindowSteps final : public ml::StepSeries {
public:
    WindowSteps(const TextDecoder& decoder, TokenLoop& loop)
        : decoder_(decoder)
        , loop_(loop)
        , input_(loop.inputs.inputIds, loop.inputs.cacheLength, loop.inputs.keyCache, loop.inputs.valueCache,
              loop.inputs.kvCacheUpdateMask, loop.encoderOutput, loop.inputs.decoderKeyPaddingMask)
        , tokenIndex_(loop.bounds.prefilledIndex)
    {
    }

    const ml::FeatureProvider* start() override { return nextInput(); }

    const ml::FeatureProvider* advance(ml::DictionaryFeatureProvider outputs) override
    {
        loop_.timings.decodingPredictions += secondsSince(predictionStart_);
        const StepOutcome outcome = decoder_.finishStep(loop_, tokenIndex_, logitsPrediction(std::move(outputs)));
        loop_.timings.decodingLoop += secondsSince(stepStart_);
        if (outcome == StepOutcome::endsWindow || decoder_.shouldEarlyStop_->shouldStop(loop_.windowId)) {
            return nullptr;
        }
        ++tokenIndex_;
        return nextInput();
    }

private:
    const ml::FeatureProvider* nextInput()
    {
        if (tokenIndex_ >= loop_.bounds.limit) {
            return nullptr;
        }
        stepStart_ = Clock::now();
        decoder_.writeStepInput(loop_, tokenIndex_);
        predictionStart_ = Clock::now();
        checkCancellation(loop_.stopToken);
        return &input_;
    }

    const TextDecoder& decoder_;
    TokenLoop& loop_;
    const TextDecoderInput input_; // views of the loop's arrays, which each step rewrites
    int tokenIndex_;
    Clock::time_point stepStart_;
    Clock::time_point predictionStart_;
};

// A window that ends, stops early or fails leaves the steps of other threads' windows at once,
// and a thread that encodes or prefills its next window holds none of them back.
void TextDecoder::runTokenLoop(TokenLoop& loop)
{
    WindowSteps steps(*this, loop);
    const auto loaded = model();
    if (loaded) {
        loaded->runSteps(steps);
    } else if (steps.start()) {
        throw WhisperError::decodingLogitsFailed("Unable to decode logits");
    }
}

TokenLoop TextDecoder::setUpLoop(const ml::MultiArray& encoderOutput, DecodingInputs decoderInputs,
    TokenSampling& sampler, const DecodingOptions& options, ProgressCallback callback, std::stop_token stopToken)
{
    auto whisperTokenizer = tokenizer();
    if (!whisperTokenizer) {
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    }
    const TokenLoop::Bounds bounds = TokenLoop::loopBounds(decoderInputs, options.sampleLength);
    const SpecialTokens special = whisperTokenizer->specialTokens();
    TokenLoop loop {
        .encoderOutput = encoderOutput,
        .sampler = sampler,
        .options = options,
        .callback = std::move(callback),
        .stopToken = stopToken,
        .tokenizer = std::move(whisperTokenizer),
        .special = special,
        .inputs = std::move(decoderInputs),
        .bounds = bounds,
        .filters = TokenLoop::makeFilters(options, special, bounds.promptCount, logitsSize(), isModelMultilingual()),
    };
    loop.tokens = loop.inputs.initialPrompt;
    loop.logProbs.assign(loop.tokens.size(), 0.0f);
    loop.nextToken = loop.tokens.back();
    Logging::debug("Running main loop for a maximum of " + std::to_string(bounds.limit)
        + " iterations, starting at index " + std::to_string(bounds.prefilledIndex));
    return loop;
}

TextDecoder::StepOutcome TextDecoder::finishStep(TokenLoop& loop, int tokenIndex, const LogitsPrediction& prediction) const
{
    if (!prediction.logits || !prediction.cache) {
        throw WhisperError::decodingLogitsFailed("Unable to decode logits");
    }
    const StageTimer nonPredictionTimer(loop.timings.decodingNonPrediction);
    const SampledToken sampled = filterAndSample(loop, tokenIndex, *prediction.logits);
    loop.timings.totalDecodingLoops += 1;
    if (endsWindow(loop, tokenIndex, sampled)) {
        return StepOutcome::endsWindow;
    }
    keepToken(loop, tokenIndex, sampled);
    writeStepCache(loop, tokenIndex, *prediction.cache);
    copyAlignmentRow(loop, tokenIndex, *prediction.cache);
    postProgress(loop, tokenIndex);
    noteFirstToken(loop, tokenIndex);
    return StepOutcome::continues;
}

void TextDecoder::writeStepInput(TokenLoop& loop, int tokenIndex) const
{
    int inputToken = loop.nextToken;
    if (tokenIndex < loop.bounds.promptCount) {
        inputToken = loop.inputs.initialPrompt[static_cast<std::size_t>(tokenIndex)];
        if (Logging::writes(Logging::LogLevel::debug)) {
            Logging::debug("Forcing prompt tokenIndex: " + std::to_string(tokenIndex) + ", token: "
                + std::to_string(inputToken) + ", text: " + loop.tokenizer->decode({inputToken}));
        }
    }
    loop.inputs.inputIds.setLinear(0, inputToken);
    loop.inputs.cacheLength.setLinear(0, tokenIndex);
    if (tokenIndex <= loop.bounds.prefilledIndex + 3 && Logging::writes(Logging::LogLevel::debug)) {
        debugCaches(loop.inputs, tokenIndex, loop.bounds.prefilledIndex);
    }
}

void TextDecoder::postProgress(const TokenLoop& loop, int tokenIndex) const
{
    if (!loop.callback) {
        return;
    }
    // Answers given while the prompt is still fed do not stop the window.
    const bool isPrefill = tokenIndex < loop.bounds.promptCount - 1;
    const std::weak_ptr<EarlyStopTable> weakTable = shouldEarlyStop_;
    progressQueue_->post(
        [weakTable, windowId = loop.windowId, callback = loop.callback, snapshot = progressOf(loop), isPrefill] {
            const auto table = weakTable.lock();
            if (!table) {
                return;
            }
            const auto answer = callback(snapshot.completed());
            if (answer && !*answer && !isPrefill) {
                Logging::debug("Early stopping");
                table->requestStop(windowId);
            }
        });
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
            result.languageProbs[TokenLoop::languageCode(*whisperTokenizer, sampled.tokens[i])]
                = sampled.logProbs[i];
        }
    }
    const std::string code
        = sampled.tokens.empty() ? std::string() : TokenLoop::languageCode(*whisperTokenizer, sampled.tokens.back());
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
