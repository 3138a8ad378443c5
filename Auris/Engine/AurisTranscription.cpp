#include "Auris/Engine/Auris.hpp"

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/VADAudioChunker.hpp"
#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Transcription/TranscribeTask.hpp"
#include "Auris/Utilities/TranscriptionUtilities.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <chrono>

namespace auris {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// How much of one audio its chunks have decoded. Chunks report only while they decode, so a
// finished chunk counts whole from then on, and a chunk never counts less than it once did.
class ChunkTally {
public:
    explicit ChunkTally(const std::vector<std::span<const float>>& pieces)
    {
        for (const auto& piece : pieces) {
            sizes_.push_back(static_cast<double>(piece.size()) / Auris::sampleRate);
            total_ += sizes_.back();
        }
        done_.assign(sizes_.size(), 0);
    }

    // The audio's seconds done, after chunk `index` reported `seconds` of its own.
    double update(std::size_t index, double seconds)
    {
        std::lock_guard lock(mutex_);
        done_[index] = std::max(done_[index], std::min(seconds, sizes_[index]));
        double sum = 0;
        for (const double piece : done_) {
            sum += piece;
        }
        return sum;
    }
    void finish(std::size_t index) { update(index, sizes_[index]); }
    double total() const { return total_; }

private:
    std::mutex mutex_;
    std::vector<double> sizes_;
    std::vector<double> done_;
    double total_ = 0;
};

// Samples a window has decoded: its last timestamp since the start of the transcript.
std::int64_t decodedWithinWindow(const std::vector<int>& tokens, const SpecialTokens& special)
{
    const auto start = std::find(tokens.rbegin(), tokens.rend(), special.startOfTranscriptToken);
    for (auto token = tokens.rbegin(); token != start; ++token) {
        if (*token >= special.timeTokenBegin) {
            const double seconds = (*token - special.timeTokenBegin) * static_cast<double>(Auris::secondsPerTimeToken);
            return static_cast<std::int64_t>(seconds * Auris::sampleRate);
        }
    }
    return 0;
}

void logResults(const std::vector<TranscriptionResult>& results)
{
    Logging::info("Total Transcription Results: " + std::to_string(results.size()));
    for (std::size_t i = 0; i < results.size(); ++i) {
        Logging::debug("[Result " + std::to_string(i) + "]");
        results[i].logSegments();
    }
}

} // namespace

std::vector<TranscriptionResult> Auris::transcribe(const std::string& audioPath,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    // Loading converts as it reads, so there is no separate conversion step to time.
    const auto loadStart = Clock::now();
    const auto samples = AudioProcessor::loadAudioSamples(audioPath, 0.0, std::nullopt);
    const double loadingTime = secondsSince(loadStart);
    {
        std::lock_guard lock(mutex_);
        currentTimings_.audioLoading = loadingTime;
    }
    Logging::debug("Audio loading time: " + platform::numberText(loadingTime) + ", Audio convert time: " + platform::numberText(0.0));
    return transcribe(samples, decodeOptions, callback, stopToken);
}

std::optional<TranscriptionResult> Auris::transcribeFirst(const std::string& audioPath,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    auto results = transcribe(audioPath, decodeOptions, callback, stopToken);
    return results.empty() ? std::nullopt : std::optional<TranscriptionResult>(std::move(results.front()));
}

std::vector<TranscriptionResult> Auris::transcribe(const std::vector<float>& audioArray,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    return transcribeSamples(audioArray, decodeOptions, callback, stopToken);
}

std::vector<TranscriptionResult> Auris::transcribeSamples(std::span<const float> audio,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    const bool chunked = decodeOptions && decodeOptions->chunkingStrategy == ChunkingStrategy::vad
        && audio.size() > static_cast<std::size_t>(windowSamples);
    auto results = chunked ? transcribeInChunks(audio, *decodeOptions, callback, stopToken)
                           : runTranscribeTask(audio, decodeOptions, callback, stopToken);
    if (decodeOptions && decodeOptions->verbose) {
        logResults(results);
    }
    return results;
}

std::optional<TranscriptionResult> Auris::transcribeFirst(const std::vector<float>& audioArray,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    auto results = transcribe(audioArray, decodeOptions, callback, stopToken);
    return results.empty() ? std::nullopt : std::optional<TranscriptionResult>(std::move(results.front()));
}

std::vector<TranscriptionResult> Auris::transcribeInChunks(std::span<const float> audio,
    const DecodingOptions& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    VADAudioChunker chunker(chunkerWindowPadding);
    const auto ranges = chunker.chunkRanges(audio, windowSamples, decodeOptions);

    DecodingOptions chunkOptions = decodeOptions;
    chunkOptions.clipTimestamps.clear();
    std::vector<std::span<const float>> pieces;
    // Offsets only: the samples stay in the caller's array.
    std::vector<AudioChunk> chunks;
    pieces.reserve(ranges.size());
    chunks.reserve(ranges.size());
    for (const auto& [start, end] : ranges) {
        pieces.push_back(audio.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
        chunks.push_back({start, {}});
    }
    const auto outcomes = transcribeEach(
        pieces, std::vector<std::optional<DecodingOptions>>(pieces.size(), chunkOptions), callback, stopToken, true);
    if (outcomes.size() != chunks.size()) {
        throw WhisperError::transcriptionFailed(
            "No chunk was transcribed: the worker count must not be negative.");
    }

    std::vector<ChunkTranscriptionOutcome> chunkOutcomes;
    chunkOutcomes.reserve(outcomes.size());
    for (const auto& outcome : outcomes) {
        if (outcome.isSuccess()) {
            chunkOutcomes.emplace_back(outcome.get());
        } else {
            chunkOutcomes.emplace_back(outcome.error());
        }
    }
    return chunker.updateSeekOffsetsForResults(chunkOutcomes, chunks);
}

std::vector<TranscriptionResult> Auris::runTranscribeTask(std::span<const float> audio,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    ensureModelsLoaded();
    const auto currentTokenizer = tokenizer();
    if (!currentTokenizer) {
        throw WhisperError::tokenizerUnavailable();
    }

    std::shared_ptr<AudioEncoding> encoder;
    std::shared_ptr<FeatureExtracting> extractor;
    std::shared_ptr<SegmentSeeking> seeker;
    std::shared_ptr<TextDecoding> decoder;
    TranscriptionTimings timings;
    {
        std::lock_guard lock(mutex_);
        timings = currentTimings_;
        encoder = audioEncoder_;
        extractor = featureExtractor_;
        seeker = segmentSeeker_;
        decoder = textDecoder_;
    }
    auto child = std::make_shared<hub::Progress>();
    TranscribeTask task(timings, child, encoder, extractor, seeker, decoder, currentTokenizer);
    {
        std::lock_guard lock(mutex_);
        progress_->setTotalUnitCount(progress_->totalUnitCount() + 1);
        progress_->addChild(child, 1);
    }

    // Each step also tells how far this run is: its finished windows and the window's last timestamp.
    ProgressCallback measured;
    if (callback) {
        measured = [callback, child, special = currentTokenizer->specialTokens()](const TranscriptionProgress& progress) {
            TranscriptionProgress copy = progress;
            const std::int64_t total = child->totalUnitCount();
            const std::int64_t done
                = std::min(total, child->completedUnitCount() + decodedWithinWindow(progress.tokens, special));
            copy.audioSecondsDone = static_cast<double>(std::max<std::int64_t>(done, 0)) / sampleRate;
            copy.audioSecondsTotal = static_cast<double>(std::max<std::int64_t>(total, 0)) / sampleRate;
            return callback(copy);
        };
    }
    TranscriptionResult result;
    try {
        checkCancellation(stopToken);
        result = task.runTranscription(audio, decodeOptions, measured, stopToken);
    } catch (const CancellationError&) {
        std::lock_guard lock(mutex_);
        progress_ = std::make_shared<hub::Progress>();
        throw;
    }

    if (decodeOptions && decodeOptions->verbose) {
        result.logTimings();
    }
    {
        std::lock_guard lock(mutex_);
        if (progress_->isFinished()) {
            progress_ = std::make_shared<hub::Progress>();
        }
    }
    return {std::move(result)};
}

std::vector<Auris::TranscriptionOutcome> Auris::transcribeWithOptions(const std::vector<std::vector<float>>& audioArrays,
    const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray, const ProgressCallback& callback,
    std::stop_token stopToken)
{
    return transcribeEach(std::vector<std::span<const float>>(audioArrays.begin(), audioArrays.end()), decodeOptionsArray,
        callback, stopToken);
}

std::vector<Auris::TranscriptionOutcome> Auris::transcribeEach(const std::vector<std::span<const float>>& audioArrays,
    const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray, const ProgressCallback& callback,
    std::stop_token stopToken, bool chunksOfOneAudio)
{
    if (audioArrays.size() != decodeOptionsArray.size()) {
        return {TranscriptionOutcome::failure(std::make_exception_ptr(WhisperError::transcriptionFailed(
            "The number of audio arrays and decoding options must be balanced.")))};
    }

    // The largest worker count, an absent entry counting 0.
    std::optional<int> largest;
    for (const auto& options : decodeOptionsArray) {
        const int count = options ? options->concurrentWorkerCount : 0;
        largest = std::max(largest.value_or(count), count);
    }
    const int workerCount = largest.value_or(0);
    if (workerCount < 0) {
        return {};
    }

    const std::size_t total = audioArrays.size();
    const auto tally = chunksOfOneAudio && callback ? std::make_shared<ChunkTally>(audioArrays) : nullptr;
    const std::size_t batchSize = workerCount == 0 ? total : static_cast<std::size_t>(workerCount);
    std::vector<std::optional<TranscriptionOutcome>> outcomes(total);
    // Arrays side by side are as many as windows the decoder steps together, even beyond the
    // machine's cores: their threads sleep while the decoder steps their windows, and the models
    // compute one at a time. More would only wait for a place.
    const std::size_t threadLimit = decoderBatchCapacity();
    if (threadLimit != SIZE_MAX) {
        workers_.raiseLimit(static_cast<int>(threadLimit) - 1);
    }
    for (std::size_t batchStart = 0; batchStart < total; batchStart += batchSize) {
        const std::size_t count = std::min(batchSize, total - batchStart);
        workers_.run(count, [&](std::size_t k) {
            const std::size_t position = batchStart + k;
            try {
                ProgressCallback positioned;
                if (callback) {
                    positioned = [&callback, position, tally](const TranscriptionProgress& progress) {
                        TranscriptionProgress copy = progress;
                        copy.windowId = static_cast<int>(position);
                        if (tally) {
                            copy.audioSecondsDone = tally->update(position, progress.audioSecondsDone);
                            copy.audioSecondsTotal = tally->total();
                        }
                        return callback(copy);
                    };
                }
                outcomes[position] = TranscriptionOutcome::success(
                    transcribeSamples(audioArrays[position], decodeOptionsArray[position], positioned, stopToken));
            } catch (...) {
                outcomes[position] = TranscriptionOutcome::failure(std::current_exception());
            }
            if (tally) {
                tally->finish(position);
            }
        }, threadLimit);
    }

    std::vector<TranscriptionOutcome> ordered;
    ordered.reserve(total);
    for (auto& outcome : outcomes) {
        ordered.push_back(std::move(*outcome));
    }
    return ordered;
}

std::vector<Auris::TranscriptionOutcome> Auris::transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    return transcribeWithOptions(audioArrays,
        std::vector<std::optional<DecodingOptions>>(audioArrays.size(), decodeOptions), callback, stopToken);
}

std::vector<std::optional<std::vector<TranscriptionResult>>> Auris::transcribe(
    const std::vector<std::vector<float>>& audioArrays, const std::optional<DecodingOptions>& decodeOptions,
    const ProgressCallback& callback, std::stop_token stopToken)
{
    return resultsDroppingFailures(transcribeWithResults(audioArrays, decodeOptions, callback, stopToken));
}

std::vector<Auris::TranscriptionOutcome> Auris::transcribeWithResults(const std::vector<std::string>& audioPaths,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    const auto loadStart = Clock::now();
    auto loaded = AudioProcessor::loadAudio(audioPaths);
    std::vector<std::vector<float>> arrays;
    for (auto& load : loaded) {
        if (auto* samples = std::get_if<std::vector<float>>(&load)) {
            arrays.push_back(std::move(*samples));
        }
    }
    const double loadingTime = secondsSince(loadStart);
    {
        std::lock_guard lock(mutex_);
        currentTimings_.audioLoading = loadingTime;
    }
    Logging::debug("Total Audio Loading and Converting Time: " + platform::numberText(loadingTime));

    const auto transcribed = transcribeWithOptions(
        arrays, std::vector<std::optional<DecodingOptions>>(arrays.size(), decodeOptions), callback, stopToken);

    std::vector<TranscriptionOutcome> outcomes;
    outcomes.reserve(loaded.size());
    std::size_t next = 0;
    for (const auto& load : loaded) {
        if (const auto* error = std::get_if<std::exception_ptr>(&load)) {
            outcomes.push_back(TranscriptionOutcome::failure(*error));
        } else if (next < transcribed.size()) {
            outcomes.push_back(transcribed[next++]);
        } else {
            // A negative worker count transcribes nothing; the loaded file still gets an honest entry.
            outcomes.push_back(TranscriptionOutcome::failure(std::make_exception_ptr(WhisperError::transcriptionFailed(
                "The audio was not transcribed: the worker count must not be negative."))));
        }
    }
    return outcomes;
}

std::vector<std::optional<std::vector<TranscriptionResult>>> Auris::transcribe(const std::vector<std::string>& audioPaths,
    const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken)
{
    return resultsDroppingFailures(transcribeWithResults(audioPaths, decodeOptions, callback, stopToken));
}

} // namespace auris
