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

TranscribeTask::~TranscribeTask() = default;

TranscriptionResult TranscribeTask::runTranscription(std::span<const float> audioArray,
    const std::optional<DecodingOptions>& decodeOptions, TextDecoding::ProgressCallback callback,
    std::stop_token stopToken)
{
    SignpostInterval interval("TranscribeAudio", transcribeTaskSignposter());

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
    const int sampleCount = static_cast<int>(audioArray.size());
    const double audioSeconds = static_cast<double>(sampleCount) / sampleRate;

    double clipStartSeconds = 0;
    if (decodeOptions && !decodeOptions->clipTimestamps.empty()) {
        const double first = decodeOptions->clipTimestamps.front();
        clipStartSeconds = std::isnan(first) ? 0.0 : std::clamp(first, 0.0, audioSeconds);
    }
    timings_.inputAudioSeconds = audioSeconds - clipStartSeconds;

    const SpecialTokens& special = tokenizer_->specialTokens();
    RunState state;
    const auto initStart = Clock::now();
    state.decoderInputs = textDecoder_->prepareDecoderInputs({special.startOfTranscriptToken});
    timings_.decodingInit = secondsSince(initStart);
    Logging::debug("Decoder init time: " + platform::numberText(timings_.decodingInit));

    const auto prefillStart = Clock::now();
    int cached = 0;
    if (options.usePrefillPrompt) {
        state.decoderInputs = textDecoder_->prefillDecoderInputs(state.decoderInputs, options, stopToken);
        const double length = state.decoderInputs.cacheLength.count() > 0 ? state.decoderInputs.cacheLength[0] : 0;
        cached = truncatedInt(length).value_or(-1);
    }
    timings_.prefill = secondsSince(prefillStart);
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
    const int requestedContext = decodeOptions ? decodeOptions->sampleLength : defaultMaxTokenContext;
    state.maxTokenContext = static_cast<int>(
        std::clamp<long long>(requestedContext, 0, static_cast<long long>(std::min<std::size_t>(maskLength, INT_MAX))));

    Logging::debug("Prefill time: " + platform::numberText(timings_.prefill));
    Logging::debug("Prefill prompt: " + promptDescription(inputs.initialPrompt));

    state.fallbackCount = 0;
    std::vector<std::pair<int, int>> seekClips;
    std::string clipsText;
    for (auto [start, end] : resolveSeekClips(sampleCount, options)) {
        // Clips reaching outside the audio are cut to it; an inverted one becomes empty.
        start = std::clamp(start, 0, sampleCount);
        end = std::clamp(end, start, sampleCount);
        seekClips.emplace_back(start, end);
        clipsText += (clipsText.empty() ? "" : ", ") + std::string("(start: ") + std::to_string(start)
            + ", end: " + std::to_string(end) + ")";
    }
    Logging::debug("Decoding seek clips: [" + clipsText + "]");

    std::int64_t totalUnits = 0;
    for (const auto& [start, end] : seekClips) {
        totalUnits += end - start;
    }
    progress_->setTotalUnitCount(totalUnits);
    const auto loopStart = Clock::now();

    const auto progressRelay = makeProgressRelay(std::move(callback));
    std::vector<TranscriptionSegment> allSegments;
    std::vector<int> allTokens;

    for (const auto& [clipStart, clipEnd] : seekClips) {
        const std::int64_t completedBase = progress_->completedUnitCount();
        int seek = clipStart;
        while (seek < clipEnd) {
            // The last second of a clip gets no window of its own unless someone speaks in it.
            const bool isTail = seek >= clipEnd - clipEndMargin;
            if (isTail
                && !holdsVoice(audioArray.subspan(static_cast<std::size_t>(seek), static_cast<std::size_t>(clipEnd - seek)))) {
                break;
            }

            const float timeOffset = static_cast<float>(seek) / sampleRate;
            const int segmentSize = std::min({windowSamples, sampleCount - seek, clipEnd - seek});
            const float windowEndTime = static_cast<float>(seek + segmentSize) / sampleRate;
            Logging::debug("Decoding Seek: " + std::to_string(seek) + " ("
                + formatString("%.2f", static_cast<double>(timeOffset)) + "s)");
            Logging::debug("Decoding Window Size: " + std::to_string(segmentSize) + " ("
                + formatString("%.2f", static_cast<double>(windowEndTime - timeOffset)) + "s)");

            auto stageStart = Clock::now();
            const auto window = AudioProcessing::padOrTrimAudio(
                audioArray.subspan(static_cast<std::size_t>(seek), static_cast<std::size_t>(segmentSize)), 0,
                windowSamples, false);
            if (!window) {
                throw WhisperError::transcriptionFailed("Audio samples are nil");
            }
            timings_.audioProcessing += secondsSince(stageStart);
            timings_.totalAudioProcessingRuns += 1;

            checkCancellation(stopToken);
            stageStart = Clock::now();
            const auto melOutput = featureExtractor_->logMelSpectrogram(*window, stopToken);
            if (!melOutput) {
                throw WhisperError::transcriptionFailed("Mel output is nil");
            }
            timings_.logmels += secondsSince(stageStart);
            timings_.totalLogmelRuns += 1;

            checkCancellation(stopToken);
            stageStart = Clock::now();
            const auto encoderOutput = audioEncoder_->encodeFeatures(*melOutput, stopToken);
            if (!encoderOutput) {
                throw WhisperError::transcriptionFailed("Encoder output is nil");
            }
            timings_.encoding += secondsSince(stageStart);
            timings_.totalEncodingRuns += 1;

            Logging::info("Decoding " + formatString("%.2f", static_cast<double>(timeOffset)) + "s - "
                + formatString("%.2f", static_cast<double>(windowEndTime)) + "s");

            checkCancellation(stopToken);
            const DecodingResult decodingResult
                = decodeWindowWithTemperatureFallback(*encoderOutput, options, state, progressRelay, stopToken);

            const auto windowingStart = Clock::now();
            const int previousSeek = seek;
            auto [seekPoint, segments] = segmentSeeker_->findSeekPointAndSegments(decodingResult, options,
                static_cast<int>(std::min<std::size_t>(allSegments.size(), INT_MAX)), seek, segmentSize, sampleRate,
                special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
            seek = std::max(seek, seekPoint);

            const auto& cache = decodingResult.cache;
            if (options.wordTimestamps && cache && cache->alignmentWeights) {
                const auto wordStart = Clock::now();
                auto withWords = segmentSeeker_->addWordTimestamps(
                    segments.value_or(std::vector<TranscriptionSegment> {}), *cache->alignmentWeights, *tokenizer_,
                    previousSeek, segmentSize, prependPunctuations, appendPunctuations,
                    static_cast<float>(static_cast<double>(previousSeek) / sampleRate), options, timings_);
                timings_.decodingWordTimestamps += secondsSince(wordStart);
                timings_.totalTimestampAlignmentRuns += 1;
                std::erase_if(withWords, [&](const TranscriptionSegment& segment) {
                    return !(segment.end > segment.start) && !holdsText(segment, special.specialTokenBegin);
                });
                if (!withWords.empty()) {
                    const float lastEnd = static_cast<float>(sampleRate) * withWords.back().end;
                    seek = std::max(seek, truncatedInt(lastEnd).value_or(seek));
                }
                if (options.verbose) {
                    logWords(withWords);
                }
                segments = std::move(withWords);
            }

            // A window that moved nothing forward is passed over, so the loop always ends.
            if (seek <= previousSeek) {
                seek = previousSeek + segmentSize;
            }

            const bool hasSegments = segments && !segments->empty();
            if (hasSegments) {
                if (options.verbose) {
                    Logging::debug("Segments for window:");
                    for (const auto& segment : *segments) {
                        Logging::debug("[" + formatString("%.2f", static_cast<double>(segment.start)) + " --> "
                            + formatString("%.2f", static_cast<double>(segment.end)) + "] " + segment.text);
                    }
                }
                for (auto& segment : *segments) {
                    // The seeker numbered the segments before the word step dropped any; renumbered
                    // here, ids stay unique and in order.
                    segment.id = static_cast<int>(std::min<std::size_t>(allSegments.size(), INT_MAX));
                    allTokens.insert(allTokens.end(), segment.tokens.begin(), segment.tokens.end());
                    allSegments.push_back(std::move(segment));
                }
                timings_.decodingWindowing += secondsSince(windowingStart);
                timings_.totalDecodingWindows += 1;
                publishCounters();
            }

            // Every window, silent ones too, starts from the prefilled prompt state.
            resetDecoderInputs(state);

            if (hasSegments) {
                progress_->setCompletedUnitCount(completedBase + std::min(seek, clipEnd) - clipStart);
            }
            if (isTail) {
                break;
            }
        }
    }

    progress_->setCompletedUnitCount(progress_->totalUnitCount());
    timings_.decodingLoop = secondsSince(loopStart);
    timings_.fullPipeline = absoluteTimeNow() - timings_.pipelineStart;

    std::vector<int> textTokens;
    std::copy_if(allTokens.begin(), allTokens.end(), std::back_inserter(textTokens),
        [&](int token) { return token < special.specialTokenBegin; });
    TranscriptionResult result;
    result.text = std::string(platform::trimmingBlanks(tokenizer_->decode(textTokens)));
    result.segments = std::move(allSegments);
    result.language = state.detectedLanguage.value_or("en");
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
