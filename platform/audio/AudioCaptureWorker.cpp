#include "platform/audio/AudioCaptureWorker.hpp"

#include "platform/audio/AudioCaptureError.hpp"
#include "platform/system/SystemLog.hpp"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

struct AudioCaptureWorker::Shared {
    AudioCaptureSource::BlockCallback onBlock;
    AudioCaptureSource::FailureCallback onFailure;
    AudioCaptureFormat format;
    std::size_t blockBytes = 0;
    std::size_t frameBytes = 0;
    std::size_t maxPendingBytes = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<unsigned char> pending;
    std::size_t readOffset = 0;
    bool paused = false;
    bool stopping = false;
    bool ended = false;
    bool delivering = false;
    std::optional<std::string> failure;
    std::size_t droppedBytes = 0;

    std::size_t available() const { return pending.size() - readOffset; }

    bool canDeliverBlock() const { return (!paused || failure) && available() >= blockBytes; }

    // Appends under the lock; `fill` writes the reserved bytes.
    template <typename Fill>
    void add(std::size_t byteCount, Fill fill)
    {
        bool reportDrop = false;
        {
            std::lock_guard lock(mutex);
            if (stopping || ended || failure || byteCount == 0) {
                return;
            }
            if (available() + byteCount > maxPendingBytes) {
                reportDrop = droppedBytes == 0;
                droppedBytes += byteCount;
            } else {
                if (readOffset > 0 && readOffset >= pending.size() / 2) {
                    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(readOffset));
                    readOffset = 0;
                }
                const auto oldSize = pending.size();
                pending.resize(oldSize + byteCount);
                fill(pending.data() + oldSize);
            }
        }
        if (reportDrop) {
            SystemLog::write("Parlino", "AudioCapture", SystemLog::Type::error,
                             "Captured audio is not being taken fast enough; dropping audio");
        } else {
            changed.notify_all();
        }
    }
};

AudioCaptureWorker::AudioCaptureWorker(AudioCaptureFormat format, std::size_t framesPerBlock,
                                       std::size_t maxPendingFrames, AudioCaptureSource::BlockCallback onBlock,
                                       AudioCaptureSource::FailureCallback onFailure)
    : format_(format)
    , framesPerBlock_(framesPerBlock)
    , shared_(std::make_shared<Shared>())
{
    if (!format.isValid() || framesPerBlock == 0) {
        throw AudioCaptureError("Invalid capture format or block length");
    }
    shared_->onBlock = std::move(onBlock);
    shared_->onFailure = std::move(onFailure);
    shared_->format = format;
    shared_->frameBytes = sizeof(float) * format.channelCount;
    shared_->blockBytes = shared_->frameBytes * framesPerBlock;
    shared_->maxPendingBytes = shared_->frameBytes * std::max(maxPendingFrames, framesPerBlock);
    thread_ = std::thread([shared = shared_] { run(shared); });
}

AudioCaptureWorker::~AudioCaptureWorker()
{
    stop();
}

void AudioCaptureWorker::append(const void* bytes, std::size_t byteCount)
{
    shared_->add(byteCount, [&](unsigned char* target) { std::memcpy(target, bytes, byteCount); });
}

void AudioCaptureWorker::append(std::span<const float> samples)
{
    append(samples.data(), samples.size_bytes());
}

void AudioCaptureWorker::appendSilence(std::size_t byteCount)
{
    // All-zero bytes are 0.0f.
    shared_->add(byteCount, [&](unsigned char* target) { std::memset(target, 0, byteCount); });
}

void AudioCaptureWorker::fail(std::string message)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->stopping || shared_->ended || shared_->failure) {
            return;
        }
        shared_->failure = std::move(message);
    }
    shared_->changed.notify_all();
}

void AudioCaptureWorker::setPaused(bool paused)
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->paused = paused;
    }
    shared_->changed.notify_all();
}

void AudioCaptureWorker::stop()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->changed.notify_all();
    if (!thread_.joinable()) {
        return;
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Called from a callback: the thread owns what it uses and ends after the callback returns.
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool AudioCaptureWorker::isRunning() const
{
    std::lock_guard lock(shared_->mutex);
    return !shared_->stopping && !shared_->ended && !shared_->failure;
}

std::size_t AudioCaptureWorker::droppedFrames() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->droppedBytes / shared_->frameBytes;
}

bool AudioCaptureWorker::waitUntilDelivered(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout, [&] {
        return shared_->ended || shared_->stopping || (!shared_->delivering && !shared_->canDeliverBlock());
    });
}

void AudioCaptureWorker::run(const std::shared_ptr<Shared>& shared)
{
    AudioCaptureBlock block;
    block.format = shared->format;
    block.samples.resize(shared->blockBytes / sizeof(float));

    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->stopping || shared->failure || shared->canDeliverBlock(); });
        if (shared->stopping) {
            break;
        }
        if (shared->canDeliverBlock()) {
            std::memcpy(block.samples.data(), shared->pending.data() + shared->readOffset, shared->blockBytes);
            shared->readOffset += shared->blockBytes;
            shared->delivering = true;
            lock.unlock();
            if (shared->onBlock) {
                shared->onBlock(block);
            }
            lock.lock();
            shared->delivering = false;
            shared->changed.notify_all();
            continue;
        }
        // Failed, and every complete block is out.
        const auto message = *shared->failure;
        shared->delivering = true;
        lock.unlock();
        if (shared->onFailure) {
            shared->onFailure(message);
        }
        lock.lock();
        shared->delivering = false;
        break;
    }
    shared->ended = true;
    shared->pending.clear();
    shared->pending.shrink_to_fit();
    // What the callbacks hold is let go as the thread ends, not when the worker object goes.
    auto onBlock = std::move(shared->onBlock);
    auto onFailure = std::move(shared->onFailure);
    lock.unlock();
    shared->changed.notify_all();
}

} // namespace platform
