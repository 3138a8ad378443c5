#pragma once

#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Features/AudioEncoding.hpp"
#include "Auris/Features/FeatureExtracting.hpp"
#include "Auris/Segments/SegmentSeeking.hpp"
#include "Auris/Streaming/StreamingClock.hpp"
#include "Auris/Text/TextDecoding.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace auris {

class TranscribeTask;

// Turns live microphone audio into a running transcript: records through the audio processor and
// keeps re-transcribing everything after the last confirmed segment, splitting each result into
// confirmed segments, which no longer change, and unconfirmed ones, which the next pass may revise.
//
// Hold it in a std::shared_ptr: buffer and progress callbacks reach it only through a weak
// reference, so callbacks that come after its release do nothing. Its state changes one turn at a
// time, as an actor's would; each change is reported to the state callback, in order, never while
// a turn is in progress, so the callback may call back into the transcriber.
class AudioStreamTranscriber : public std::enable_shared_from_this<AudioStreamTranscriber> {
public:
    struct State {
        bool isRecording = false;
        int currentFallbacks = 0;
        int lastBufferSize = 0;
        float lastConfirmedSegmentEndSeconds = 0;
        std::vector<float> bufferEnergy;
        std::string currentText;
        std::vector<TranscriptionSegment> confirmedSegments;
        std::vector<TranscriptionSegment> unconfirmedSegments;
        std::vector<std::string> unconfirmedText;

        friend bool operator==(const State&, const State&) = default;
    };

    using StateChangeCallback = std::function<void(const State& oldState, const State& newState)>;

    static constexpr const char* waitingForSpeech = "Waiting for speech...";
    static constexpr std::chrono::milliseconds idleSleep {100};

    AudioStreamTranscriber(std::shared_ptr<AudioEncoding> audioEncoder, std::shared_ptr<FeatureExtracting> featureExtractor,
        std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
        std::shared_ptr<const WhisperTokenizer> tokenizer, std::shared_ptr<AudioProcessing> audioProcessor,
        DecodingOptions decodingOptions = {}, int requiredSegmentsForConfirmation = 2, float silenceThreshold = 0.3f,
        int compressionCheckWindow = 60, bool useVAD = true, StateChangeCallback stateChangeCallback = {},
        std::shared_ptr<StreamingClock> clock = std::make_shared<SystemStreamingClock>());
    virtual ~AudioStreamTranscriber();
    AudioStreamTranscriber(const AudioStreamTranscriber&) = delete;
    AudioStreamTranscriber& operator=(const AudioStreamTranscriber&) = delete;

    // Records and transcribes until stopStreamTranscription is called from another thread (or the
    // state callback) or a pass fails; returns at once when already recording. A pass that fails
    // stops the recording, so the transcriber can be started again. Throws WhisperError when the
    // recording cannot start, and std::logic_error when not held by a std::shared_ptr.
    virtual void startStreamTranscription();
    // Ends the recording; the loop notices at its next pass.
    virtual void stopStreamTranscription();

protected:
    // The audio processor's relative energies into the state.
    virtual void handleAudioBuffer();
    // Follows the decoded text of the window in progress, keeping text that a fallback replaced.
    virtual void handleDecodingProgress(const TranscriptionProgress& progress);
    // One pass: waits when there is too little new audio or no voice, otherwise transcribes.
    virtual void runRealtimeLoop();
    // Transcribes the samples from the end of the last confirmed segment.
    virtual TranscriptionResult transcribeNewAudio(std::span<const float> samples);

    AudioProcessing& audioProcessor() { return *audioProcessor_; }

private:
    // Holds the transcriber's turn; the changes made during it are reported once it ends.
    class Turn;

    // Applies one change to the state, in the current turn, and queues its report.
    template<typename Change>
    void update(Change&& change);
    void deliverPendingChanges();
    void waitIdle();

    // Whether the token loop should stop the window it is decoding.
    static std::optional<bool> earlyStopAnswer(
        const TranscriptionProgress& progress, const DecodingOptions& options, int compressionCheckWindow);

    std::mutex turnMutex_;
    State state_;
    StateChangeCallback stateChangeCallback_;
    int requiredSegmentsForConfirmation_;
    bool useVAD_;
    float silenceThreshold_;
    int compressionCheckWindow_;
    std::unique_ptr<TranscribeTask> transcribeTask_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    DecodingOptions decodingOptions_;
    std::shared_ptr<StreamingClock> clock_;

    // Counts starts, so that a loop can tell that a newer start took the recording over.
    std::uint64_t session_ = 0;
    std::mutex loopMutex_;

    std::mutex changesMutex_;
    std::deque<std::pair<State, State>> pendingChanges_;
    bool delivering_ = false;
};

} // namespace auris
