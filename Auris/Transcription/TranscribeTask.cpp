#include "Auris/Transcription/TranscribeTask.hpp"
#include "Auris/Utilities/Clock.hpp"

#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/Signposts.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/system/NumberText.hpp"
#include "platform/text/TextTransforms.hpp"

#include <unicode/locid.h>
#include <unicode/numberformatter.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <ctime>

namespace auris {

namespace {

constexpr int sampleRate = AudioProcessing::sampleRate;
constexpr int windowSamples = AudioProcessing::windowSamples;

// Truncates toward zero; out-of-range values saturate and not-a-number gives none.
std::optional<int> truncatedInt(double value)
{
    if (std::isnan(value)) {
        return std::nullopt;
    }
    return static_cast<int>(std::clamp(std::trunc(value), static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

// Seconds from the first clip's start to the end of the audio.
double secondsToTranscribe(int sampleCount, const std::optional<DecodingOptions>& decodeOptions)
{
    const double audioSeconds = static_cast<double>(sampleCount) / sampleRate;
    double clipStartSeconds = 0;
    if (decodeOptions && !decodeOptions->clipTimestamps.empty()) {
        const double first = decodeOptions->clipTimestamps.front();
        clipStartSeconds = std::isnan(first) ? 0.0 : std::clamp(first, 0.0, audioSeconds);
    }
    return audioSeconds - clipStartSeconds;
}

std::string secondsText(float seconds)
{
    return formatString("%.2f", static_cast<double>(seconds));
}

ml::MultiArray required(std::optional<ml::MultiArray> output, const char* nilMessage)
{
    if (!output) {
        throw WhisperError::transcriptionFailed(nilMessage);
    }
    return std::move(*output);
}

// Runs one model stage of a window and counts it; a stage that throws adds nothing.
template<typename Stage>
ml::MultiArray timedStage(double& seconds, double& runs, Stage&& stage)
{
    const auto start = Clock::now();
    ml::MultiArray output = stage();
    seconds += secondsSince(start);
    runs += 1;
    return output;
}

// Three significant digits in the user's locale, as the word listing shows times.
std::string significantDigitsText(float value)
{
    UErrorCode status = U_ZERO_ERROR;
    const auto formatted = icu::number::NumberFormatter::withLocale(icu::Locale::getDefault())
                               .precision(icu::number::Precision::fixedSignificantDigits(3))
                               .formatDouble(static_cast<double>(value), status);
    const icu::UnicodeString text = formatted.toString(status);
    if (U_FAILURE(status)) {
        return formatString("%.3g", static_cast<double>(value));
    }
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

// A segment whose time span collapsed still keeps its words when it holds any.
bool holdsText(const TranscriptionSegment& segment, int specialTokenBegin)
{
    return std::any_of(segment.tokens.begin(), segment.tokens.end(),
        [&](int token) { return token >= 0 && token < specialTokenBegin; });
}

void logWords(const std::vector<TranscriptionSegment>& segments)
{
    Logging::debug("Word timestamps:");
    for (const auto& segment : segments) {
        if (!segment.words) {
            continue;
        }
        for (const auto& word : *segment.words) {
            Logging::debug("[" + significantDigitsText(word.start) + " -> " + significantDigitsText(word.end)
                + "] prob: " + platform::numberText(word.probability) + ", word: " + word.word);
        }
    }
}

} // namespace

TranscribeTask::TranscribeTask(TranscriptionTimings timings, std::shared_ptr<hub::Progress> progress,
    std::shared_ptr<AudioEncoding> audioEncoder, std::shared_ptr<FeatureExtracting> featureExtractor,
    std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
    std::shared_ptr<const WhisperTokenizer> tokenizer)
    : timings_(timings)
    , progress_(progress ? std::move(progress) : std::make_shared<hub::Progress>())
    , audioEncoder_(std::move(audioEncoder))
    , featureExtractor_(std::move(featureExtractor))
    , segmentSeeker_(std::move(segmentSeeker))
    , textDecoder_(std::move(textDecoder))
    , tokenizer_(std::move(tokenizer))
{
    if (!audioEncoder_ || !featureExtractor_ || !segmentSeeker_ || !textDecoder_) {
        throw WhisperError::modelsUnavailable();
    }
    if (!tokenizer_) {
        throw WhisperError::tokenizerUnavailable();
    }
    publishCounters();
}

TranscribeTask::~TranscribeTask()
{
    // Waits for a report that is running on the progress queue right now.
    std::lock_guard lock(relayCounters_->gate);
    relayCounters_->open = false;
}

TranscribeTask::Window TranscribeTask::windowAt(int seek, int sampleCount, int clipEnd)
{
    const int segmentSize = std::min({windowSamples, sampleCount - seek, clipEnd - seek});
    return {seek, segmentSize, static_cast<float>(seek) / sampleRate, static_cast<float>(seek + segmentSize) / sampleRate};
}

TranscriptionResult TranscribeTask::runTranscription(std::span<const float> audioArray,
    const std::optional<DecodingOptions>& decodeOptions, TextDecoding::ProgressCallback callback,
    std::stop_token stopToken)
{
    SignpostInterval interval("TranscribeAudio", transcribeTaskSignposter());
    const DecodingOptions options = startRun(audioArray, decodeOptions);
    WindowLoop loop {
        .audio = audioArray,
        .options = options,
        .progressRelay = makeProgressRelay(std::move(callback)),
        .stopToken = stopToken,
        .state = prepareDecoder(options, decodeOptions, stopToken),
    };
    const auto seekClips = seekClipsFor(loop.sampleCount(), options);
    const auto loopStart = Clock::now();
    for (const auto& clip : seekClips) {
        transcribeClip(loop, clip);
    }
    return finishRun(loop, loopStart);
}

DecodingOptions TranscribeTask::startRun(
    std::span<const float> audioArray, const std::optional<DecodingOptions>& decodeOptions)
{
    timings_.pipelineStart = std::min(absoluteTimeNow(), timings_.pipelineStart);
    Logging::debug("Starting pipeline at: " + currentDateText());

    DecodingOptions options = decodeOptions.value_or(DecodingOptions());
    options.verbose = Logging::shared().logLevel() != Logging::LogLevel::none;
    if (options.temperatureFallbackCount < 0) {
        throw WhisperError::decodingFailed("Decoding failed: temperatureFallbackCount must not be negative");
    }
    // Sample positions are ints; a full window past the last sample must still be one.
    if (audioArray.size() > static_cast<std::size_t>(INT_MAX - windowSamples)) {
        throw WhisperError::transcriptionFailed("Audio holds too many samples to transcribe");
    }
    timings_.inputAudioSeconds = secondsToTranscribe(static_cast<int>(audioArray.size()), decodeOptions);
    return options;
}

TranscribeTask::RunState TranscribeTask::prepareDecoder(
    const DecodingOptions& options, const std::optional<DecodingOptions>& decodeOptions, std::stop_token stopToken)
{
    RunState state;
    const auto initStart = Clock::now();
    state.decoderInputs = textDecoder_->prepareDecoderInputs({tokenizer_->specialTokens().startOfTranscriptToken});
    timings_.decodingInit = secondsSince(initStart);
    Logging::debug("Decoder init time: " + platform::numberText(timings_.decodingInit));

    const auto prefillStart = Clock::now();
    int cached = 0;
    if (options.usePrefillPrompt) {
        state.decoderInputs = textDecoder_->prefillDecoderInputs(state.decoderInputs, options, stopToken);
        const auto& cacheLength = state.decoderInputs.cacheLength;
        cached = truncatedInt(cacheLength.count() > 0 ? cacheLength[0] : 0).value_or(-1);
    }
    timings_.prefill = secondsSince(prefillStart);
    openPrefilledPositions(state, cached, decodeOptions ? decodeOptions->sampleLength : defaultMaxTokenContext);

    Logging::debug("Prefill time: " + platform::numberText(timings_.prefill));
    Logging::debug("Prefill prompt: " + promptDescription(state.decoderInputs.initialPrompt));
    return state;
}

void TranscribeTask::openPrefilledPositions(RunState& state, int cached, int requestedContext) const
{
    auto& inputs = state.decoderInputs;
    const auto maskLength = std::min(inputs.kvCacheUpdateMask.count(), inputs.decoderKeyPaddingMask.count());
    if (cached < 0 || static_cast<std::size_t>(cached) >= maskLength) {
        throw WhisperError::prefillFailed("The prefilled cache length " + std::to_string(cached)
            + " does not fit the decoder's " + std::to_string(maskLength) + " positions");
    }
    state.prefilledCacheSize = cached + 1;
    inputs.kvCacheUpdateMask.setLinear(static_cast<std::size_t>(cached), 1);
    for (int i = 0; i <= cached; ++i) {
        inputs.decoderKeyPaddingMask.setLinear(static_cast<std::size_t>(i), 0);
    }
    // Resets rewrite whole masks; the requested length only has to fit them.
    state.maxTokenContext = static_cast<int>(
        std::clamp<long long>(requestedContext, 0, static_cast<long long>(std::min<std::size_t>(maskLength, INT_MAX))));
}

std::vector<TranscribeTask::SeekClip> TranscribeTask::seekClipsFor(int sampleCount, const DecodingOptions& options)
{
    std::vector<SeekClip> seekClips;
    std::string clipsText;
    std::int64_t totalUnits = 0;
    for (auto [start, end] : resolveSeekClips(sampleCount, options)) {
        // Clips reaching outside the audio are cut to it; an inverted one becomes empty.
        start = std::clamp(start, 0, sampleCount);
        end = std::clamp(end, start, sampleCount);
        seekClips.push_back({start, end});
        totalUnits += end - start;
        clipsText += (clipsText.empty() ? "" : ", ") + std::string("(start: ") + std::to_string(start)
            + ", end: " + std::to_string(end) + ")";
    }
    Logging::debug("Decoding seek clips: [" + clipsText + "]");
    progress_->setTotalUnitCount(totalUnits);
    return seekClips;
}

void TranscribeTask::transcribeClip(WindowLoop& loop, const SeekClip& clip)
{
    const std::int64_t completedBase = progress_->completedUnitCount();
    int seek = clip.start;
    while (seek < clip.end) {
        // The last second of a clip gets no window of its own unless someone speaks in it.
        const bool isTail = seek >= clip.end - clipEndMargin;
        if (isTail && !holdsVoice(loop.audio.subspan(static_cast<std::size_t>(seek), static_cast<std::size_t>(clip.end - seek)))) {
            break;
        }
        const Window window = windowAt(seek, loop.sampleCount(), clip.end);
        const WindowEnd ended = transcribeWindow(loop, window);
        seek = ended.seek;
        if (ended.kept) {
            progress_->setCompletedUnitCount(completedBase + std::min(seek, clip.end) - clip.start);
        }
        if (isTail) {
            break;
        }
    }
}

TranscribeTask::WindowEnd TranscribeTask::transcribeWindow(WindowLoop& loop, const Window& window)
{
    Logging::debug("Decoding Seek: " + std::to_string(window.seek) + " (" + secondsText(window.timeOffset) + "s)");
    Logging::debug("Decoding Window Size: " + std::to_string(window.segmentSize) + " ("
        + secondsText(window.endTime - window.timeOffset) + "s)");
    const ml::MultiArray encoderOutput = encodeWindow(loop, window);
    Logging::info("Decoding " + secondsText(window.timeOffset) + "s - " + secondsText(window.endTime) + "s");

    checkCancellation(loop.stopToken);
    const DecodingResult decodingResult
        = decodeWindowWithTemperatureFallback(encoderOutput, loop.options, loop.state, loop.progressRelay, loop.stopToken);

    const auto windowingStart = Clock::now();
    auto [seek, segments] = segmentWindow(loop, window, decodingResult);
    const bool kept = segments && !segments->empty();
    if (kept) {
        keepSegments(loop, std::move(*segments));
        timings_.decodingWindowing += secondsSince(windowingStart);
        timings_.totalDecodingWindows += 1;
        publishCounters();
    }
    // Every window, silent ones too, starts from the prefilled prompt state.
    resetDecoderInputs(loop.state);
    return {seek, kept};
}

ml::MultiArray TranscribeTask::encodeWindow(const WindowLoop& loop, const Window& window)
{
    const auto samples = loop.audio.subspan(static_cast<std::size_t>(window.seek), static_cast<std::size_t>(window.segmentSize));
    const auto padded = timedStage(timings_.audioProcessing, timings_.totalAudioProcessingRuns, [&] {
        return required(AudioProcessing::padOrTrimAudio(samples, 0, windowSamples, false), "Audio samples are nil");
    });
    checkCancellation(loop.stopToken);
    const auto mel = timedStage(timings_.logmels, timings_.totalLogmelRuns, [&] {
        return required(featureExtractor_->logMelSpectrogram(padded, loop.stopToken), "Mel output is nil");
    });
    checkCancellation(loop.stopToken);
    return timedStage(timings_.encoding, timings_.totalEncodingRuns, [&] {
        return required(audioEncoder_->encodeFeatures(mel, loop.stopToken), "Encoder output is nil");
    });
}

TranscribeTask::WindowSegments TranscribeTask::segmentWindow(
    const WindowLoop& loop, const Window& window, const DecodingResult& decodingResult)
{
    const SpecialTokens& special = tokenizer_->specialTokens();
    auto [seekPoint, segments] = segmentSeeker_->findSeekPointAndSegments(decodingResult, loop.options,
        static_cast<int>(std::min<std::size_t>(loop.segments.size(), INT_MAX)), window.seek, window.segmentSize,
        sampleRate, special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
    int seek = std::max(window.seek, seekPoint);

    const auto& cache = decodingResult.cache;
    if (loop.options.wordTimestamps && cache && cache->alignmentWeights) {
        segments = addWords(loop, window, std::move(segments).value_or(std::vector<TranscriptionSegment> {}),
            *cache->alignmentWeights);
        if (!segments->empty()) {
            const float lastEnd = static_cast<float>(sampleRate) * segments->back().end;
            seek = std::max(seek, truncatedInt(lastEnd).value_or(seek));
        }
    }
    // A window that moved nothing forward is passed over, so the loop always ends.
    if (seek <= window.seek) {
        seek = window.seek + window.segmentSize;
    }
    return {seek, std::move(segments)};
}

std::vector<TranscriptionSegment> TranscribeTask::addWords(const WindowLoop& loop, const Window& window,
    std::vector<TranscriptionSegment> segments, const ml::MultiArray& alignmentWeights)
{
    const auto wordStart = Clock::now();
    auto withWords = segmentSeeker_->addWordTimestamps(std::move(segments), alignmentWeights, *tokenizer_, window.seek,
        window.segmentSize, prependPunctuations, appendPunctuations,
        static_cast<float>(static_cast<double>(window.seek) / sampleRate), loop.options, timings_);
    timings_.decodingWordTimestamps += secondsSince(wordStart);
    timings_.totalTimestampAlignmentRuns += 1;
    const int specialTokenBegin = tokenizer_->specialTokens().specialTokenBegin;
    std::erase_if(withWords, [&](const TranscriptionSegment& segment) {
        return !(segment.end > segment.start) && !holdsText(segment, specialTokenBegin);
    });
    if (loop.options.verbose) {
        logWords(withWords);
    }
    return withWords;
}

void TranscribeTask::keepSegments(WindowLoop& loop, std::vector<TranscriptionSegment> segments) const
{
    if (loop.options.verbose) {
        Logging::debug("Segments for window:");
        for (const auto& segment : segments) {
            Logging::debug("[" + secondsText(segment.start) + " --> " + secondsText(segment.end) + "] " + segment.text);
        }
    }
    for (auto& segment : segments) {
        // The seeker numbered the segments before the word step dropped any; renumbered here, ids
        // stay unique and in order.
        segment.id = static_cast<int>(std::min<std::size_t>(loop.segments.size(), INT_MAX));
        loop.tokens.insert(loop.tokens.end(), segment.tokens.begin(), segment.tokens.end());
        loop.segments.push_back(std::move(segment));
    }
}

TranscriptionResult TranscribeTask::finishRun(WindowLoop& loop, std::chrono::steady_clock::time_point loopStart)
{
    progress_->setCompletedUnitCount(progress_->totalUnitCount());
    timings_.decodingLoop = secondsSince(loopStart);
    timings_.fullPipeline = absoluteTimeNow() - timings_.pipelineStart;

    const int specialTokenBegin = tokenizer_->specialTokens().specialTokenBegin;
    std::vector<int> textTokens;
    std::copy_if(loop.tokens.begin(), loop.tokens.end(), std::back_inserter(textTokens),
        [&](int token) { return token < specialTokenBegin; });
    TranscriptionResult result;
    result.text = std::string(platform::trimmingBlanks(tokenizer_->decode(textTokens)));
    result.segments = std::move(loop.segments);
    result.language = loop.state.detectedLanguage.value_or("en");
    result.timings = timings_;
    return result;
}

TextDecoding::ProgressCallback TranscribeTask::makeProgressRelay(TextDecoding::ProgressCallback callback) const
{
    if (!callback) {
        return {};
    }
    // Holds the task's counters weakly: once the task is gone, late progress gets no answer.
    std::weak_ptr<RelayCounters> weakCounters = relayCounters_;
    return [weakCounters, callback = std::move(callback)](const TranscriptionProgress& progress) -> std::optional<bool> {
        const auto counters = weakCounters.lock();
        if (!counters) {
            return std::nullopt;
        }
        std::lock_guard lock(counters->gate);
        if (!counters->open) {
            return std::nullopt;
        }
        TranscriptionProgress relayed = progress;
        relayed.windowId = truncatedInt(counters->totalDecodingWindows.load() - counters->totalDecodingFallbacks.load())
                               .value_or(0);
        return callback(relayed);
    };
}

void TranscribeTask::publishCounters()
{
    relayCounters_->totalDecodingWindows.store(timings_.totalDecodingWindows);
    relayCounters_->totalDecodingFallbacks.store(timings_.totalDecodingFallbacks);
}

std::string TranscribeTask::promptDescription(const std::vector<int>& prompt) const
{
    std::string text = "[";
    for (std::size_t i = 0; i < prompt.size(); ++i) {
        text += i ? ", \"" : "\"";
        for (char c : tokenizer_->convertIdToToken(prompt[i]).value_or("")) {
            switch (c) {
            case '"': text += "\\\""; break;
            case '\'': text += "\\'"; break;
            case '\\': text += "\\\\"; break;
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            case '\t': text += "\\t"; break;
            case '\0': text += "\\0"; break;
            default: text += c;
            }
        }
        text += "\"";
    }
    return text + "]";
}

void TranscribeTask::resetDecoderInputs(RunState& state) const
{
    state.decoderInputs.reset(state.prefilledCacheSize, state.maxTokenContext);
}

bool TranscribeTask::holdsVoice(std::span<const float> samples) const
{
    const std::vector<bool> voiced = voiceDetector_.voiceActivityFrames(samples);
    return std::find(voiced.begin(), voiced.end(), true) != voiced.end();
}

} // namespace auris
