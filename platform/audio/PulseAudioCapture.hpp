#pragma once

#include "platform/audio/AudioCaptureSource.hpp"
#include "platform/audio/SoundServerOptions.hpp"

#include <memory>
#include <mutex>

namespace platform {

using PulseAudioCaptureOptions = SoundServerOptions;

// Live capture from a PulseAudio (or PipeWire) sound server. The server is never started on demand:
// without one the device list is empty and start fails. Monitors of outputs are not listed as inputs.
class PulseAudioCapture final : public AudioCaptureSource {
public:
    explicit PulseAudioCapture(PulseAudioCaptureOptions options = {});
    ~PulseAudioCapture() override;
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    std::vector<AudioInputDevice> inputDevices() override;
    AudioCaptureFormat start(const AudioCaptureRequest& request, BlockCallback onBlock,
                             FailureCallback onFailure = {}) override;
    void pause() override;
    void resume() override;
    void stop() override;
    bool isCapturing() const override;

    // Audio waiting for a slow consumer beyond this is dropped.
    static constexpr std::size_t maxPendingSeconds = 30;

private:
    class Session;

    PulseAudioCaptureOptions options_;
    mutable std::mutex mutex_;
    std::unique_ptr<Session> session_;
};

} // namespace platform
