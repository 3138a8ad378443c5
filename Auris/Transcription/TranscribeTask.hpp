#pragma once

#include "Auris/Audio/EnergyVAD.hpp"
#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/DecodingResult.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Features/AudioEncoding.hpp"
#include "Auris/Features/FeatureExtracting.hpp"
#include "Auris/Models/DecodingInputs.hpp"
#include "Auris/Segments/SegmentSeeking.hpp"
#include "Auris/Text/TextDecoding.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"
#include "Hub/Progress.hpp"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace auris {

// Transcribes one array of 16 kHz mono samples: cuts it into the requested clips, walks each clip
// in windows of at most 30 s (mel spectrogram, encoder, decoding with temperature fallback, segment
// seeking) and joins the windows into one result. Runs one at a time; may run again, building on
// the timings and progress of earlier runs.
class TranscribeTask {
public:
    // Opening marks joined to the word after them and closing marks joined to the word before them.
    static constexpr std::string_view prependPunctuations = "\"'“¿([{-";
    static constexpr std::string_view appendPunctuations = "\"'.。,，!！?？:：”)]}、";
    // A window starts only while more than this many samples of its clip remain; a shorter rest is
    // decoded only when it holds voice.
    static constexpr int clipEndMargin = 16000;
    // Reset length of the decoder masks when the caller gave no options.
    static constexpr int defaultMaxTokenContext = 224;

    // No progress object: the task makes a fresh one.
    TranscribeTask(TranscriptionTimings timings, std::shared_ptr<hub::Progress> progress,
        std::shared_ptr<AudioEncoding> audioEncoder, std::shared_ptr<FeatureExtracting> featureExtractor,
        std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
        std::shared_ptr<const WhisperTokenizer> tokenizer);
    ~TranscribeTask();
    TranscribeTask(const TranscribeTask&) = delete;
    TranscribeTask& operator=(const TranscribeTask&) = delete;

    // Stage times and run counters of every run so far; read between runs.
    const TranscriptionTimings& timings() const { return timings_; }
    const std::shared_ptr<hub::Progress>& progress() const { return progress_; }

    // The callback sees every decoded token's progress, possibly on another thread; answering false
    // ends the current window early. A stop request is honoured before the mel model, the encoder
    // and the decode of each window (CancellationError), and by the model runs themselves.
    TranscriptionResult runTranscription(std::span<const float> audioArray,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt, TextDecoding::ProgressCallback callback = {},
        std::stop_token stopToken = {});

    // What one run shares with the decodes of its windows.
    struct RunState {
        DecodingInputs decoderInputs;
        // Cache positions a reset keeps: the prefilled prompt and the position after it.
        int prefilledCacheSize = 1;
        // Mask length passed to every reset.
        int maxTokenContext = defaultMaxTokenContext;
        std::optional<std::string> detectedLanguage;
        // Ladder index of the latest attempt that fell back.
        double fallbackCount = 0;
    };

    // Decodes one window at rising temperatures until an attempt needs no fallback, and returns the
    // last attempt's result. Throws WhisperError (decodingFailed) for a negative fallback count.
    DecodingResult decodeWindowWithTemperatureFallback(const ml::MultiArray& encoderOutput,
        const DecodingOptions& options, RunState& state, const TextDecoding::ProgressCallback& progressRelay,
        std::stop_token stopToken = {});

private:
    struct SeekClip {
        int start = 0;
        int end = 0;
    };
    // The samples one window decodes, from `seek` on, and their times.
    struct Window {
        int seek = 0;
        int segmentSize = 0;
        float timeOffset = 0;
        float endTime = 0;
    };
    static Window windowAt(int seek, int sampleCount, int clipEnd);

    // What the windows of one run share.
    struct WindowLoop {
        std::span<const float> audio;
        const DecodingOptions& options;
        TextDecoding::ProgressCallback progressRelay;
        std::stop_token stopToken;
        RunState state;
        std::vector<TranscriptionSegment> segments;
        std::vector<int> tokens;

        int sampleCount() const { return static_cast<int>(audio.size()); }
    };
    struct WindowSegments {
        int seek = 0;
        std::optional<std::vector<TranscriptionSegment>> segments;
    };
    struct WindowEnd {
        int seek = 0;
        // Whether the window gave segments to the result.
        bool kept = false;
    };

    // The window loop's stages, in the order one run takes them.
    DecodingOptions startRun(std::span<const float> audioArray, const std::optional<DecodingOptions>& decodeOptions);
    RunState prepareDecoder(
        const DecodingOptions& options, const std::optional<DecodingOptions>& decodeOptions, std::stop_token stopToken);
    void openPrefilledPositions(RunState& state, int cached, int requestedContext) const;
    std::vector<SeekClip> seekClipsFor(int sampleCount, const DecodingOptions& options);
    void transcribeClip(WindowLoop& loop, const SeekClip& clip);
    WindowEnd transcribeWindow(WindowLoop& loop, const Window& window);
    ml::MultiArray encodeWindow(const WindowLoop& loop, const Window& window);
    WindowSegments segmentWindow(const WindowLoop& loop, const Window& window, const DecodingResult& decodingResult);
    std::vector<TranscriptionSegment> addWords(const WindowLoop& loop, const Window& window,
        std::vector<TranscriptionSegment> segments, const ml::MultiArray& alignmentWeights);
    void keepSegments(WindowLoop& loop, std::vector<TranscriptionSegment> segments) const;
    TranscriptionResult finishRun(WindowLoop& loop, std::chrono::steady_clock::time_point loopStart);

    // The two counters the progress relay reads from the decoder's thread, and whether the task still
    // takes progress: a report runs under `gate`, and the task closes it before it ends, so no report
    // reaches the caller's callback once the transcription has returned.
    struct RelayCounters {
        std::mutex gate;
        bool open = true;
        std::atomic<double> totalDecodingWindows {0};
        std::atomic<double> totalDecodingFallbacks {0};
    };

    TextDecoding::ProgressCallback makeProgressRelay(TextDecoding::ProgressCallback callback) const;
    void publishCounters();
    // The prompt as a bracketed list of quoted token texts.
    std::string promptDescription(const std::vector<int>& prompt) const;
    void resetDecoderInputs(RunState& state) const;
    bool holdsVoice(std::span<const float> samples) const;

    TranscriptionTimings timings_;
    std::shared_ptr<hub::Progress> progress_;
    std::shared_ptr<AudioEncoding> audioEncoder_;
    std::shared_ptr<FeatureExtracting> featureExtractor_;
    std::shared_ptr<SegmentSeeking> segmentSeeker_;
    std::shared_ptr<TextDecoding> textDecoder_;
    std::shared_ptr<const WhisperTokenizer> tokenizer_;
    std::shared_ptr<RelayCounters> relayCounters_ = std::make_shared<RelayCounters>();
    EnergyVAD voiceDetector_;
};

} // namespace auris
