#include "platform/audio/FakeAudioCapture.hpp"

#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioCaptureWorker.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace platform {

FakeAudioCapture::FakeAudioCapture(std::vector<AudioInputDevice> devices)
    : devices_(std::move(devices))
{
}

FakeAudioCapture::~FakeAudioCapture()
{
    stop();
}

void FakeAudioCapture::setDevices(std::vector<AudioInputDevice> devices)
{
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void FakeAudioCapture::failNextStart(std::string message)
{
    std::lock_guard lock(mutex_);
    startFailure_ = std::move(message);
}

void FakeAudioCapture::push(std::span<const float> samples)
{
    std::lock_guard lock(mutex_);
    if (worker_) {
        worker_->append(samples);
    } else {
        waiting_.insert(waiting_.end(), samples.begin(), samples.end());
    }
}

void FakeAudioCapture::failStream(std::string message)
{
    std::lock_guard lock(mutex_);
    if (worker_) {
        worker_->fail(std::move(message));
    }
}

bool FakeAudioCapture::waitUntilDelivered(std::chrono::milliseconds timeout) const
{
    std::shared_ptr<AudioCaptureWorker> worker;
    {
        std::lock_guard lock(mutex_);
        worker = worker_;
    }
    return !worker || worker->waitUntilDelivered(timeout);
}

int FakeAudioCapture::startCount() const
{
    std::lock_guard lock(mutex_);
    return startCount_;
}

std::optional<AudioCaptureRequest> FakeAudioCapture::lastRequest() const
{
    std::lock_guard lock(mutex_);
    return lastRequest_;
}

bool FakeAudioCapture::isPaused() const
{
    std::lock_guard lock(mutex_);
    return worker_ && paused_;
}

std::vector<float> FakeAudioCapture::tone(AudioCaptureFormat format, double frequency, std::size_t frameCount,
                                          float amplitude)
{
    std::vector<float> samples;
    samples.reserve(frameCount * format.channelCount);
    const double step = 2.0 * std::numbers::pi * frequency / std::max<double>(1, format.sampleRate);
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        const auto value = static_cast<float>(amplitude * std::sin(step * static_cast<double>(frame)));
        samples.insert(samples.end(), format.channelCount, value);
    }
    return samples;
}

std::vector<AudioInputDevice> FakeAudioCapture::inputDevices()
{
    std::lock_guard lock(mutex_);
    return devices_;
}

AudioCaptureFormat FakeAudioCapture::start(const AudioCaptureRequest& request, BlockCallback onBlock,
                                           FailureCallback onFailure)
{
    request.validate();
    stop();

    AudioCaptureFormat format;
    std::shared_ptr<AudioCaptureWorker> replaced;
    {
        std::lock_guard lock(mutex_);
        ++startCount_;
        lastRequest_ = request;
        if (startFailure_) {
            auto message = std::move(*startFailure_);
            startFailure_.reset();
            throw AudioCaptureError(message);
        }
        const auto device = std::find_if(devices_.begin(), devices_.end(), [&](const AudioInputDevice& candidate) {
            return request.deviceName ? candidate.name == *request.deviceName : candidate.isDefault;
        });
        if (device == devices_.end()) {
            throw AudioCaptureError(request.deviceName ? "No input device named \"" + *request.deviceName + "\""
                                                       : std::string("There is no default input device"));
        }
        format = request.formatFor(device->nativeFormat);
        replaced = std::exchange(worker_, std::make_shared<AudioCaptureWorker>(
                                              format, request.blockFramesFor(format.sampleRate),
                                              std::size_t {format.sampleRate} * maxPendingSeconds,
                                              std::move(onBlock), std::move(onFailure)));
        worker_->append(waiting_);
        waiting_.clear();
        paused_ = false;
    }
    // A start that raced in from another thread is stopped here, outside the lock.
    if (replaced) {
        replaced->stop();
    }
    return format;
}

void FakeAudioCapture::pause()
{
    std::lock_guard lock(mutex_);
    if (worker_) {
        worker_->setPaused(true);
        paused_ = true;
    }
}

void FakeAudioCapture::resume()
{
    std::lock_guard lock(mutex_);
    if (!worker_ || !worker_->isRunning()) {
        throw AudioCaptureError("There is no capture stream to resume");
    }
    worker_->setPaused(false);
    paused_ = false;
}

void FakeAudioCapture::stop()
{
    std::shared_ptr<AudioCaptureWorker> worker;
    {
        std::lock_guard lock(mutex_);
        worker = std::move(worker_);
        paused_ = false;
    }
    // Outside the lock: stopping waits for a running callback, which may call back into the fake.
    if (worker) {
        worker->stop();
    }
}

bool FakeAudioCapture::isCapturing() const
{
    std::lock_guard lock(mutex_);
    return worker_ && worker_->isRunning();
}

} // namespace platform
