#include "Auris/Streaming/AudioStreamTranscriber.hpp"

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Transcription/TranscribeTask.hpp"
#include "Auris/Utilities/CompressionRatio.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Hub/Progress.hpp"
#include "platform/text/Graphemes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

namespace auris {

void SystemStreamingClock::sleep(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

class AudioStreamTranscriber::Turn {
public:
    explicit Turn(AudioStreamTranscriber& owner)
        : owner_(owner)
        , lock_(owner.turnMutex_)
    {
    }
    ~Turn()
    {
        lock_.unlock();
        owner_.deliverPendingChanges();
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    AudioStreamTranscriber& owner_;
    std::unique_lock<std::mutex> lock_;
};

AudioStreamTranscriber::AudioStreamTranscriber(std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
    std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<const WhisperTokenizer> tokenizer,
    std::shared_ptr<AudioProcessing> audioProcessor, DecodingOptions decodingOptions, int requiredSegmentsForConfirmation,
    float silenceThreshold, int compressionCheckWindow, bool useVAD, StateChangeCallback stateChangeCallback,
    std::shared_ptr<StreamingClock> clock)
    : stateChangeCallback_(std::move(stateChangeCallback))
    , requiredSegmentsForConfirmation_(std::max(requiredSegmentsForConfirmation, 0))
    , useVAD_(useVAD)
    , silenceThreshold_(silenceThreshold)
    , compressionCheckWindow_(std::max(compressionCheckWindow, 0))
    , transcribeTask_(std::make_unique<TranscribeTask>(TranscriptionTimings {}, std::make_shared<hub::Progress>(),
          std::move(audioEncoder), std::move(featureExtractor), std::move(segmentSeeker), std::move(textDecoder),
          std::move(tokenizer)))
    , audioProcessor_(std::move(audioProcessor))
    , decodingOptions_(std::move(decodingOptions))
    , clock_(clock ? std::move(clock) : std::make_shared<SystemStreamingClock>())
{
    if (!audioProcessor_) {
        throw std::invalid_argument("AudioStreamTranscriber needs an audio processor");
    }
}

AudioStreamTranscriber::~AudioStreamTranscriber() = default;

template<typename Change>
void AudioStreamTranscriber::update(Change&& change)
{
    if (!stateChangeCallback_) {
        change(state_);
        return;
    }
    State before = state_;
    change(state_);
    std::lock_guard lock(changesMutex_);
    pendingChanges_.emplace_back(std::move(before), state_);
}

void AudioStreamTranscriber::deliverPendingChanges()
{
    std::unique_lock lock(changesMutex_);
    // Whoever is already reporting takes the new changes too, so reports keep their order.
    if (delivering_) {
        return;
    }
    delivering_ = true;
    while (!pendingChanges_.empty()) {
        const auto change = std::move(pendingChanges_.front());
        pendingChanges_.pop_front();
        lock.unlock();
        try {
            stateChangeCallback_(change.first, change.second);
        } catch (const std::exception& error) {
            Logging::error(std::string("State change callback failed: ") + error.what());
        } catch (...) {
            Logging::error("State change callback failed");
        }
        lock.lock();
    }
    delivering_ = false;
}

void AudioStreamTranscriber::startStreamTranscription()
{
    std::weak_ptr<AudioStreamTranscriber> weakSelf = weak_from_this();
    if (weakSelf.expired()) {
        throw std::logic_error("AudioStreamTranscriber must be held by a std::shared_ptr");
    }
    {
        Turn turn(*this);
        if (state_.isRecording) {
            return;
        }
    }
    if (!AudioProcessor::requestRecordPermission()) {
        Logging::error("Microphone access was not granted.");
        return;
    }
    std::uint64_t session = 0;
    {
        Turn turn(*this);
        if (state_.isRecording) {
            return;
        }
        update([](State& state) { state.isRecording = true; });
        // A new recording starts with an empty buffer, so positions in the old one mean nothing.
        if (state_.lastBufferSize != 0 || state_.lastConfirmedSegmentEndSeconds != 0) {
            update([](State& state) {
                state.lastBufferSize = 0;
                state.lastConfirmedSegmentEndSeconds = 0;
            });
        }
        session = ++session_;
    }
    try {
        audioProcessor_->startRecordingLive(std::nullopt, [weakSelf](const std::vector<float>&) {
            if (const auto self = weakSelf.lock()) {
                self->handleAudioBuffer();
            }
        });
    } catch (...) {
        Turn turn(*this);
        if (session_ == session) {
            update([](State& state) { state.isRecording = false; });
        }
        throw;
    }

    // One loop at a time runs the task; a loop replaced by a restart ends after its current pass.
    std::lock_guard running(loopMutex_);
    const auto ownsRecording = [&] {
        Turn turn(*this);
        return state_.isRecording && session_ == session;
    };
    while (ownsRecording()) {
        try {
            runRealtimeLoop();
        } catch (const std::exception& error) {
            Logging::error(std::string("Error: ") + error.what());
            // The failed session gives the microphone up below, so that a new start can begin afresh.
            Turn turn(*this);
            if (session_ == session) {
                update([](State& state) { state.isRecording = false; });
            }
            break;
        }
    }
    // Stops the recording after a failed pass, and after a stop that came between the start's
    // turn and the start of the recording, when there was nothing yet to stop.
    bool stopNow = false;
    {
        Turn turn(*this);
        stopNow = session_ == session && !state_.isRecording;
    }
    if (stopNow) {
        audioProcessor_->stopRecording();
    }
    Logging::info("Realtime transcription has started");
}

void AudioStreamTranscriber::stopStreamTranscription()
{
    {
        Turn turn(*this);
        update([](State& state) { state.isRecording = false; });
    }
    audioProcessor_->stopRecording();
    Logging::info("Realtime transcription has ended");
}

void AudioStreamTranscriber::handleAudioBuffer()
{
    auto energy = audioProcessor_->relativeEnergy();
    Turn turn(*this);
    update([&](State& state) { state.bufferEnergy = std::move(energy); });
}

void AudioStreamTranscriber::handleDecodingProgress(const TranscriptionProgress& progress)
{
    const double reported = progress.timings.totalDecodingFallbacks;
    const int fallbacks = std::isfinite(reported)
        ? static_cast<int>(std::clamp(reported, 0.0, static_cast<double>(std::numeric_limits<int>::max())))
        : 0;
    Turn turn(*this);
    if (platform::graphemeCount(progress.text) < platform::graphemeCount(state_.currentText)) {
        if (fallbacks == state_.currentFallbacks) {
            update([](State& state) { state.unconfirmedText.push_back(state.currentText); });
        } else {
            Logging::info("Fallback occured: " + std::to_string(fallbacks));
        }
    }
    update([&](State& state) { state.currentText = progress.text; });
    update([&](State& state) { state.currentFallbacks = fallbacks; });
}

void AudioStreamTranscriber::waitIdle()
{
    {
        Turn turn(*this);
        if (state_.currentText.empty()) {
            update([](State& state) { state.currentText = waitingForSpeech; });
        }
    }
    clock_->sleep(idleSleep);
}

void AudioStreamTranscriber::runRealtimeLoop()
{
    const std::vector<float> buffer = audioProcessor_->audioSamples();
    const auto bufferSize = static_cast<int>(std::min<std::size_t>(buffer.size(), std::numeric_limits<int>::max()));
    int lastBufferSize = 0;
    {
        Turn turn(*this);
        lastBufferSize = state_.lastBufferSize;
    }
    const float seconds = static_cast<float>(static_cast<long long>(bufferSize) - lastBufferSize)
        / static_cast<float>(AudioProcessing::sampleRate);
    if (seconds <= 1) {
        waitIdle();
        return;
    }
    if (useVAD_) {
        const auto energies = audioProcessor_->relativeEnergy();
        if (!AudioProcessor::isVoiceDetected(energies, seconds, silenceThreshold_)) {
            Logging::debug("No voice detected, skipping transcribe");
            waitIdle();
            return;
        }
    }
    {
        Turn turn(*this);
        update([&](State& state) { state.lastBufferSize = bufferSize; });
    }
    const TranscriptionResult result = transcribeNewAudio(buffer);

    Turn turn(*this);
    update([](State& state) { state.currentText.clear(); });
    update([](State& state) { state.unconfirmedText.clear(); });
    const auto& segments = result.segments;
    const auto required = static_cast<std::size_t>(requiredSegmentsForConfirmation_);
    if (segments.size() <= required) {
        update([&](State& state) { state.unconfirmedSegments = segments; });
        return;
    }
    const auto split = segments.begin() + static_cast<std::ptrdiff_t>(segments.size() - required);
    const std::vector<TranscriptionSegment> toConfirm(segments.begin(), split);
    if (toConfirm.back().end > state_.lastConfirmedSegmentEndSeconds) {
        update([&](State& state) { state.lastConfirmedSegmentEndSeconds = toConfirm.back().end; });
        const auto& confirmed = state_.confirmedSegments;
        if (std::search(confirmed.begin(), confirmed.end(), toConfirm.begin(), toConfirm.end()) == confirmed.end()) {
            update([&](State& state) {
                state.confirmedSegments.insert(state.confirmedSegments.end(), toConfirm.begin(), toConfirm.end());
            });
        }
    }
    update([&](State& state) { state.unconfirmedSegments.assign(split, segments.end()); });
}

std::optional<bool> AudioStreamTranscriber::earlyStopAnswer(
    const TranscriptionProgress& progress, const DecodingOptions& options, int compressionCheckWindow)
{
    const auto window = static_cast<std::size_t>(compressionCheckWindow);
    if (progress.tokens.size() > window) {
        const std::vector<int> recent(progress.tokens.end() - static_cast<std::ptrdiff_t>(window), progress.tokens.end());
        if (compressionRatio(recent) > options.compressionRatioThreshold.value_or(0)) {
            return false;
        }
    }
    if (progress.avgLogprob && options.logProbThreshold && *progress.avgLogprob < *options.logProbThreshold) {
        return false;
    }
    return std::nullopt;
}

TranscriptionResult AudioStreamTranscriber::transcribeNewAudio(std::span<const float> samples)
{
    DecodingOptions options = decodingOptions_;
    {
        Turn turn(*this);
        options.clipTimestamps = {state_.lastConfirmedSegmentEndSeconds};
    }
    std::weak_ptr<AudioStreamTranscriber> weakSelf = weak_from_this();
    DecodingOptions thresholds;
    thresholds.compressionRatioThreshold = options.compressionRatioThreshold;
    thresholds.logProbThreshold = options.logProbThreshold;
    const int window = compressionCheckWindow_;
    auto callback = [weakSelf, thresholds, window](const TranscriptionProgress& progress) -> std::optional<bool> {
        if (const auto self = weakSelf.lock()) {
            self->handleDecodingProgress(progress);
        }
        return earlyStopAnswer(progress, thresholds, window);
    };
    return transcribeTask_->runTranscription(samples, options, std::move(callback));
}

} // namespace auris
