#pragma once

#include "platform/audio/AudioCaptureSource.hpp"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

class AudioCaptureWorker;

// A capture source for tests: a scripted device list, scripted audio delivered on a real capture
// thread in blocks as the real source cuts them, and failures injected on demand.
class FakeAudioCapture final : public AudioCaptureSource {
public:
    explicit FakeAudioCapture(std::vector<AudioInputDevice> devices = {});
    ~FakeAudioCapture() override;

    void setDevices(std::vector<AudioInputDevice> devices);

    // The next start throws AudioCaptureError with this message (after stopping the running stream).
    void failNextStart(std::string message);

    // Interleaved samples in the capture format, as the device would produce them. Audio pushed while
    // no stream runs waits for the next start.
    void push(std::span<const float> samples);

    // The running stream breaks as a vanished device would break it.
    void failStream(std::string message);

    // Waits until every complete block pushed so far has reached the callback (or is held by a pause).
    bool waitUntilDelivered(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    int startCount() const;
    std::optional<AudioCaptureRequest> lastRequest() const;
    bool isPaused() const;

    // `frameCount` frames of a sine at `frequency` Hz with the same value on every channel.
    static std::vector<float> tone(AudioCaptureFormat format, double frequency, std::size_t frameCount,
                                   float amplitude = 0.5f);

    std::vector<AudioInputDevice> inputDevices() override;
    AudioCaptureFormat start(const AudioCaptureRequest& request, BlockCallback onBlock,
                             FailureCallback onFailure = {}) override;
    void pause() override;
    void resume() override;
    void stop() override;
    bool isCapturing() const override;

    // Audio waiting for delivery beyond this is dropped, as the real source drops it.
    static constexpr std::size_t maxPendingSeconds = 30;

private:
    mutable std::mutex mutex_;
    std::vector<AudioInputDevice> devices_;
    std::optional<std::string> startFailure_;
    std::vector<float> waiting_;
    std::shared_ptr<AudioCaptureWorker> worker_;
    bool paused_ = false;
    int startCount_ = 0;
    std::optional<AudioCaptureRequest> lastRequest_;
};

} // namespace platform
