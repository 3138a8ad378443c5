#pragma once

#include "platform/audio/AudioCaptureBlock.hpp"
#include "platform/audio/AudioCaptureFormat.hpp"
#include "platform/audio/AudioCaptureRequest.hpp"
#include "platform/audio/AudioInputDevice.hpp"

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Live audio input: lists input devices and captures from one of them.
//
// Blocks reach `onBlock` on the source's capture thread, one at a time and in order, each holding
// exactly the request's block length of interleaved frames in the format `start` returned. When the
// stream breaks (the device vanishes, the server goes away), the complete blocks already captured
// are delivered, then `onFailure` once with the reason, and capture ends.
//
// Control calls may come from any thread, the callbacks included. Once `stop` or `pause` returns no
// new callback begins (a callback already running may finish unless the caller waits for it: `stop`
// from another thread does); audio not yet delivered is dropped by `stop` and held by `pause`.
class AudioCaptureSource {
public:
    using BlockCallback = std::function<void(const AudioCaptureBlock&)>;
    using FailureCallback = std::function<void(const std::string&)>;

    virtual ~AudioCaptureSource() = default;

    // The inputs available now, in the server's order; empty when there is no sound server.
    virtual std::vector<AudioInputDevice> inputDevices() = 0;

    // Begins capture, stopping any stream of this source first, and returns the format of the
    // blocks. Throws AudioCaptureError when capture cannot begin.
    virtual AudioCaptureFormat start(const AudioCaptureRequest& request, BlockCallback onBlock,
                                     FailureCallback onFailure = {}) = 0;

    // Holds the stream; nothing happens without one.
    virtual void pause() = 0;

    // Lets a paused stream go on. Throws AudioCaptureError when there is no stream to resume.
    virtual void resume() = 0;

    // Ends capture; safe to call at any time, any number of times.
    virtual void stop() = 0;

    // True from a successful start until stop or a stream failure.
    virtual bool isCapturing() const = 0;
};

} // namespace platform
