#pragma once

#include "platform/audio/AudioCaptureSource.hpp"

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <thread>

namespace platform {

// The capture thread behind a source: audio handed in from any thread (a sound library's callback
// thread, a test) is cut into blocks of a fixed length and delivered to the callbacks on the worker's
// own thread, so that the hand-in itself is a copy and nothing more.
class AudioCaptureWorker {
public:
    AudioCaptureWorker(AudioCaptureFormat format, std::size_t framesPerBlock, std::size_t maxPendingFrames,
                       AudioCaptureSource::BlockCallback onBlock, AudioCaptureSource::FailureCallback onFailure);
    ~AudioCaptureWorker();
    AudioCaptureWorker(const AudioCaptureWorker&) = delete;
    AudioCaptureWorker& operator=(const AudioCaptureWorker&) = delete;

    // Interleaved 32-bit float samples in the worker's format, split anywhere. Ignored once ended;
    // dropped (and counted) when more than maxPendingFrames wait for delivery.
    void append(const void* bytes, std::size_t byteCount);
    void append(std::span<const float> samples);
    void appendSilence(std::size_t byteCount);

    // The stream broke: complete blocks are still delivered, then the failure, then the worker ends.
    void fail(std::string message);

    void setPaused(bool paused);

    // Ends delivery. From another thread it waits for a running callback; from a callback it returns
    // at once and the thread ends when the callback does.
    void stop();

    // False once stopped or failed.
    bool isRunning() const;
    std::size_t droppedFrames() const;

    // Waits until every complete block handed in so far has been delivered (or held by a pause).
    bool waitUntilDelivered(std::chrono::milliseconds timeout) const;

    const AudioCaptureFormat& format() const { return format_; }
    std::size_t framesPerBlock() const { return framesPerBlock_; }

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);

    AudioCaptureFormat format_;
    std::size_t framesPerBlock_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace platform
