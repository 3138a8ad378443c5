#pragma once

#include "Auris/Audio/AudioDevice.hpp"
#include "Auris/Audio/AudioProcessing.hpp"
#include "platform/audio/AudioCaptureSource.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <cstdint>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace auris {

// One file's outcome in a batch load: its 16 kHz mono samples, or the error that loading threw.
using AudioLoadResult = std::variant<std::vector<float>, std::exception_ptr>;

// The engine's audio processor. Type-level operations load files and convert them to the engine's
// format (16 kHz, one channel, 32-bit float) and measure energy; an instance holds the state of
// live capture.
class AudioProcessor : public AudioProcessing {
public:
    // The most input frames converted in one step (30 s at 44.1 kHz).
    static constexpr std::uint32_t maxReadFrameSize = 1'323'000;

    // Energy figures of one stretch of samples.
    struct Energy {
        float avg = 0; // root mean square
        float max = 0; // largest magnitude
        float min = 0; // smallest magnitude
    };

    // A captured buffer's energy: its loudness relative to the recent quietest buffer, then its figures.
    struct AudioEnergy {
        float rel = 0;
        float avg = 0;
        float max = 0;
        float min = 0;
    };

    // A stretch of samples, end excluded.
    struct SampleRange {
        int startIndex = 0;
        int endIndex = 0;
        friend bool operator==(const SampleRange&, const SampleRange&) = default;
    };

    // --- Files and conversion ---

    // The file's audio from `startTime` (absent: 0) to `endTime` (absent: the end) in seconds, in
    // the engine's format. Throws WhisperError (loadAudioFailed) when the file is missing,
    // unreadable, truncated or damaged, or the range lies outside it.
    static platform::PCMBuffer loadAudio(
        const std::string& fromPath, std::optional<double> startTime = std::nullopt, std::optional<double> endTime = std::nullopt);
    // The same audio as loadAudio gives, as an array: it is read and converted block by block
    // straight into the array, so that only one full copy of the audio is ever held (loadAudio
    // and convertBufferToArray hold two at their peak).
    static std::vector<float> loadAudioSamples(
        const std::string& fromPath, std::optional<double> startTime = std::nullopt, std::optional<double> endTime = std::nullopt);
    // `loadAudio(fromPath)` on another thread.
    static std::future<platform::PCMBuffer> loadAudioAsync(const std::string& fromPath);
    // Loads every path concurrently (a bounded number at a time); one result per path, in order.
    static std::vector<AudioLoadResult> loadAudio(const std::vector<std::string>& paths);

    // Converts `frameCount` frames (absent: the rest of the file) from the file's position, reading
    // at most `maxReadFrameSize` frames at a time through one converter. Absent after an error-level
    // log when a format, converter or buffer cannot be made; read errors are thrown.
    static std::optional<platform::PCMBuffer> resampleAudio(platform::AudioFile& fromFile, double toSampleRate,
        int channelCount, std::optional<std::uint32_t> frameCount, std::uint32_t maxReadFrameSize);
    // The whole buffer converted; absent after an error-level log on failure.
    static std::optional<platform::PCMBuffer> resampleAudio(
        const platform::PCMBuffer& fromBuffer, double toSampleRate, int channelCount);
    // Feeds the buffer once through the converter, whose filter state carries on to the next call,
    // and returns what comes out. Throws WhisperError (audioProcessingFailed).
    static platform::PCMBuffer resampleBuffer(const platform::PCMBuffer& buffer, platform::AudioConverter& converter);
    // Channel 0 as an array, moved out `chunkSize` frames at a time; the copied range of the buffer
    // is left zero.
    static std::vector<float> convertBufferToArray(platform::PCMBuffer& buffer, int chunkSize = 1024);

    // --- Energy ---

    static float calculateAverageEnergy(std::span<const float> signal);
    static Energy calculateEnergy(std::span<const float> signal);
    // Loudness in 0...1: 0 at or below the reference (absent: -60 dB), 1 at full scale.
    static float calculateRelativeEnergy(std::span<const float> signal, std::optional<float> relativeTo = std::nullopt);
    // One flag per frame: whether the frame's energy exceeds the threshold.
    static std::vector<bool> calculateVoiceActivityInChunks(std::span<const float> signal, int chunkCount,
        int frameLengthSamples, int frameOverlapSamples, float energyThreshold);
    // The voiced stretches, by the default voice-activity detector.
    static std::vector<SampleRange> calculateNonSilentChunks(std::span<const float> signal);
    // Whether any of the recent relative energies (0.1 s each, the newest second left out once more
    // than two seconds are present) exceeds the threshold.
    static bool isVoiceDetected(std::span<const float> relativeEnergies, float nextBufferInSeconds, float silenceThreshold);

    // --- Live capture ---

    // The inputs that have channels to record from, in the sound server's order; empty without one.
    static std::vector<AudioDevice> getAudioDevices();
    static std::vector<AudioDevice> getAudioDevices(platform::AudioCaptureSource& source);
    // Whether the microphone may be used. Local clients of a Linux sound server need no grant.
    static bool requestRecordPermission();

    // Captures through the PulseAudio client, connected on the first start.
    AudioProcessor();
    // Captures through `captureSource` (tests pass a fake one).
    explicit AudioProcessor(std::shared_ptr<platform::AudioCaptureSource> captureSource);
    ~AudioProcessor() override;
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    std::vector<float> audioSamples() const override;
    void purgeAudioSamples(int keepingLast) override;
    std::vector<AudioEnergy> audioEnergy() const;
    std::vector<float> relativeEnergy() const override;
    int relativeEnergyWindow() const override;
    void setRelativeEnergyWindow(int window) override;
    int maxBufferLength() const { return maxBufferLength_; }
    int minBufferLength() const { return minBufferLength_; }

    // Starting empties the samples and energies, stops a stream still running, and captures 0.1 s
    // buffers from the device (absent: the default input), each converted to 16 kHz mono and handed
    // to processBuffer on the capture thread. An input that cannot be opened throws WhisperError
    // (microphoneUnavailable); a format that cannot be converted throws audioProcessingFailed.
    // Control calls are serialised; make them from the owner, not from inside the buffer callback.
    void startRecordingLive(std::optional<std::uint32_t> inputDeviceID = std::nullopt, AudioBufferCallback callback = {}) override;
    void pauseRecording() override;
    // Ends capture; samples and energies stay until the next start or purge.
    void stopRecording() override;
    // Goes on with the paused stream of the same device, or opens the device asked for; samples and
    // energies stay. A nil callback keeps the current one. Throws microphoneUnavailable when there
    // is nothing to resume (after a stop, or a stream that broke).
    void resumeRecordingLive(std::optional<std::uint32_t> inputDeviceID = std::nullopt, AudioBufferCallback callback = {}) override;

    // Takes one converted buffer: appends it, records its energy and calls the buffer callback.
    void processBuffer(std::span<const float> buffer);

private:
    struct LiveState;
    struct CaptureStream;

    platform::AudioCaptureSource& captureSource();
    // Opens the device and returns its running stream.
    std::shared_ptr<CaptureStream> setupEngine(std::optional<std::uint32_t> inputDeviceID);
    // The capture request naming the device with this id; a device that cannot be found is logged
    // and the default input is used.
    void assignAudioInput(platform::AudioCaptureRequest& request, std::uint32_t inputDeviceID);
    void stopStream();

    // Samples, energies and the callback, shared with the capture thread.
    std::shared_ptr<LiveState> live_;
    int maxBufferLength_ = sampleRate * 30;
    int minBufferLength_ = sampleRate / 10;

    // Serialises the control calls and guards the fields below.
    std::mutex controlMutex_;
    std::shared_ptr<platform::AudioCaptureSource> captureSource_;
    std::optional<std::uint32_t> lastInputDevice_;
    std::shared_ptr<CaptureStream> audioEngine_;
};

} // namespace auris
