// The live-capture side of AudioProcessor: devices, the capture stream and the buffer intake.

#include "Auris/Audio/AudioProcessor.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/PulseAudioCapture.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace auris {

namespace {

// Buffers the relative energy of a new buffer is measured against.
constexpr std::size_t energyReferenceCount = 20;

std::string describe(const AudioProcessor::AudioEnergy& energy)
{
    return "(rel: " + platform::numberText(energy.rel) + ", avg: " + platform::numberText(energy.avg)
        + ", max: " + platform::numberText(energy.max) + ", min: " + platform::numberText(energy.min) + ")";
}

// The block as one plane per channel, as the converter takes it.
std::optional<platform::PCMBuffer> planar(const platform::AudioCaptureBlock& block, const platform::AudioFormat& format)
{
    const std::size_t frames = block.frameCount();
    if (frames > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    auto buffer = platform::PCMBuffer::make(format, static_cast<std::uint32_t>(frames));
    if (!buffer) {
        return std::nullopt;
    }
    const std::size_t channels = block.format.channelCount;
    for (std::size_t channel = 0; channel < channels; ++channel) {
        float* plane = buffer->channelData(static_cast<int>(channel));
        for (std::size_t frame = 0; frame < frames; ++frame) {
            plane[frame] = block.samples[frame * channels + channel];
        }
    }
    buffer->setFrameLength(static_cast<std::uint32_t>(frames));
    return buffer;
}

} // namespace

struct AudioProcessor::LiveState {
    mutable std::mutex mutex;
    std::vector<float> audioSamples;
    std::vector<AudioEnergy> audioEnergy;
    int relativeEnergyWindow = 20;
    AudioBufferCallback audioBufferCallback;

    void process(std::span<const float> buffer, int minBufferLength)
    {
        AudioBufferCallback callback;
        AudioEnergy energy;
        std::size_t sampleCount = 0;
        bool logNow = false;
        {
            std::lock_guard lock(mutex);
            auto& samples = audioSamples;
            auto& history = audioEnergy;
            const std::size_t before = samples.size();
            samples.insert(samples.end(), buffer.begin(), buffer.end());
            sampleCount = samples.size();

            float reference = std::numeric_limits<float>::infinity();
            const std::size_t recent = std::min(history.size(), energyReferenceCount);
            for (auto entry = history.end() - static_cast<std::ptrdiff_t>(recent); entry != history.end(); ++entry) {
                reference = std::min(reference, entry->avg);
            }
            const Energy figures = calculateEnergy(buffer);
            energy = {calculateRelativeEnergy(buffer, std::max(reference, 1e-8f)), figures.avg, figures.max, figures.min};
            history.push_back(energy);
            callback = audioBufferCallback;

            // Every whole multiple of the pacing length passed, as converted buffers vary in length.
            const long long pace = static_cast<long long>(minBufferLength) * relativeEnergyWindow;
            logNow = pace > 0 && before / static_cast<unsigned long long>(pace) != sampleCount / static_cast<unsigned long long>(pace);
        }
        if (callback) {
            callback(std::vector<float>(buffer.begin(), buffer.end()));
        }
        if (logNow) {
            Logging::debug("Current audio size: " + std::to_string(sampleCount) + " samples, most recent buffer: "
                + std::to_string(buffer.size()) + " samples, most recent energy: " + describe(energy));
        }
    }
};

// One opened input: its converter to the engine's format lives as long as the stream, so the
// filter's history carries from buffer to buffer. Only the capture thread converts; set-up makes the
// converter first to learn whether the format can be converted at all.
struct AudioProcessor::CaptureStream {
    std::mutex mutex;
    std::optional<platform::AudioConverter> converter;

    // Absent when the library cannot convert from this format.
    platform::AudioConverter* converterFor(const platform::AudioFormat& inputFormat)
    {
        if (!converter || converter->inputFormat() != inputFormat) {
            converter.reset();
            const auto desired = platform::AudioFormat::standard(sampleRate, 1);
            if (desired) {
                converter = platform::AudioConverter::make(inputFormat, *desired);
            }
        }
        return converter ? &*converter : nullptr;
    }

    // The block at 16 kHz mono, or absent after an error-level log.
    std::optional<std::vector<float>> convert(const platform::AudioCaptureBlock& block)
    {
        if (block.format.sampleRate == static_cast<std::uint32_t>(sampleRate) && block.format.channelCount == 1) {
            return block.samples;
        }
        const auto format = platform::AudioFormat::standard(block.format.sampleRate, static_cast<int>(block.format.channelCount));
        auto input = format ? planar(block, *format) : std::nullopt;
        if (!input) {
            Logging::error("Failed to resample buffer: the captured block cannot be read");
            return std::nullopt;
        }
        std::lock_guard lock(mutex);
        auto* activeConverter = converterFor(*format);
        if (!activeConverter) {
            Logging::error("Failed to create audio converter");
            return std::nullopt;
        }
        try {
            platform::PCMBuffer converted = resampleBuffer(*input, *activeConverter);
            return convertBufferToArray(converted, 1024);
        } catch (const WhisperError& error) {
            Logging::error(std::string("Failed to resample buffer: ") + error.what());
            return std::nullopt;
        }
    }
};

std::vector<AudioDevice> AudioProcessor::getAudioDevices()
{
    platform::PulseAudioCapture source;
    return getAudioDevices(source);
}

std::vector<AudioDevice> AudioProcessor::getAudioDevices(platform::AudioCaptureSource& source)
{
    std::vector<AudioDevice> devices;
    for (const auto& input : source.inputDevices()) {
        if (input.nativeFormat.channelCount > 0) {
            devices.push_back({input.id, input.description});
        }
    }
    return devices;
}

bool AudioProcessor::requestRecordPermission()
{
    return true;
}

AudioProcessor::AudioProcessor()
    : AudioProcessor(nullptr)
{
}

AudioProcessor::AudioProcessor(std::shared_ptr<platform::AudioCaptureSource> captureSource)
    : live_(std::make_shared<LiveState>())
    , captureSource_(std::move(captureSource))
{
}

AudioProcessor::~AudioProcessor()
{
    stopRecording();
}

platform::AudioCaptureSource& AudioProcessor::captureSource()
{
    if (!captureSource_) {
        captureSource_ = std::make_shared<platform::PulseAudioCapture>();
    }
    return *captureSource_;
}

std::vector<float> AudioProcessor::audioSamples() const
{
    std::lock_guard lock(live_->mutex);
    return live_->audioSamples;
}

void AudioProcessor::purgeAudioSamples(int keepingLast)
{
    std::lock_guard lock(live_->mutex);
    auto& samples = live_->audioSamples;
    const std::size_t keep = static_cast<std::size_t>(std::max(keepingLast, 0));
    if (samples.size() > keep) {
        samples.erase(samples.begin(), samples.end() - static_cast<std::ptrdiff_t>(keep));
    }
}

std::vector<AudioProcessor::AudioEnergy> AudioProcessor::audioEnergy() const
{
    std::lock_guard lock(live_->mutex);
    return live_->audioEnergy;
}

std::vector<float> AudioProcessor::relativeEnergy() const
{
    std::lock_guard lock(live_->mutex);
    std::vector<float> energies;
    energies.reserve(live_->audioEnergy.size());
    for (const auto& energy : live_->audioEnergy) {
        energies.push_back(energy.rel);
    }
    return energies;
}

int AudioProcessor::relativeEnergyWindow() const
{
    std::lock_guard lock(live_->mutex);
    return live_->relativeEnergyWindow;
}

void AudioProcessor::setRelativeEnergyWindow(int window)
{
    std::lock_guard lock(live_->mutex);
    live_->relativeEnergyWindow = window;
}

void AudioProcessor::processBuffer(std::span<const float> buffer)
{
    live_->process(buffer, minBufferLength_);
}

void AudioProcessor::assignAudioInput(platform::AudioCaptureRequest& request, std::uint32_t inputDeviceID)
{
    const auto devices = captureSource().inputDevices();
    const auto device = std::find_if(devices.begin(), devices.end(),
        [inputDeviceID](const platform::AudioInputDevice& candidate) { return candidate.id == inputDeviceID; });
    if (device == devices.end()) {
        Logging::error("Error setting Audio Unit property: no input device with id " + std::to_string(inputDeviceID));
        return;
    }
    request.deviceName = device->name;
    Logging::info("Successfully set input device.");
}

std::shared_ptr<AudioProcessor::CaptureStream> AudioProcessor::setupEngine(std::optional<std::uint32_t> inputDeviceID)
{
    platform::AudioCaptureRequest request;
    if (inputDeviceID) {
        assignAudioInput(request, *inputDeviceID);
    }
    // Blocks of a tenth of a second at whatever rate the device runs, so that every energy entry
    // stands for the 0.1 s that voice detection counts on.
    request.framesPerBlock = 0;

    auto stream = std::make_shared<CaptureStream>();
    std::weak_ptr<LiveState> weakLive = live_;
    auto onBlock = [weakLive, stream, minBufferLength = minBufferLength_](const platform::AudioCaptureBlock& block) {
        // The processor may be gone while a last block is delivered.
        const auto live = weakLive.lock();
        if (!live) {
            return;
        }
        if (auto samples = stream->convert(block)) {
            live->process(*samples, minBufferLength);
        }
    };
    auto onFailure = [](const std::string& reason) { Logging::error("Audio capture stopped: " + reason); };

    platform::AudioCaptureFormat nodeFormat;
    try {
        nodeFormat = captureSource().start(request, std::move(onBlock), std::move(onFailure));
    } catch (const platform::AudioCaptureError& error) {
        throw WhisperError::microphoneUnavailable(error.what());
    }
    const auto format = platform::AudioFormat::standard(nodeFormat.sampleRate, static_cast<int>(nodeFormat.channelCount));
    const bool direct = nodeFormat.sampleRate == static_cast<std::uint32_t>(sampleRate) && nodeFormat.channelCount == 1;
    if (!format || !direct) {
        std::optional<std::string> failure;
        if (!format) {
            failure = "Failed to create node format";
        } else {
            std::lock_guard lock(stream->mutex);
            if (!stream->converterFor(*format)) {
                failure = "Failed to create audio converter";
            }
        }
        if (failure) {
            captureSource().stop();
            throw WhisperError::audioProcessingFailed(*failure);
        }
    }
    return stream;
}

void AudioProcessor::stopStream()
{
    if (audioEngine_) {
        captureSource().stop();
        audioEngine_.reset();
    }
}

void AudioProcessor::startRecordingLive(std::optional<std::uint32_t> inputDeviceID, AudioBufferCallback callback)
{
    std::lock_guard control(controlMutex_);
    // The old stream ends first, so that none of its blocks land in the new recording.
    stopStream();
    AudioBufferCallback previous;
    {
        std::lock_guard lock(live_->mutex);
        live_->audioSamples.clear();
        live_->audioEnergy.clear();
        previous = std::exchange(live_->audioBufferCallback, std::move(callback));
    }
    try {
        audioEngine_ = setupEngine(inputDeviceID);
    } catch (...) {
        std::lock_guard lock(live_->mutex);
        live_->audioBufferCallback = std::move(previous);
        throw;
    }
    lastInputDevice_ = inputDeviceID;
}

void AudioProcessor::resumeRecordingLive(std::optional<std::uint32_t> inputDeviceID, AudioBufferCallback callback)
{
    std::lock_guard control(controlMutex_);
    const bool sameDevice = inputDeviceID == lastInputDevice_;
    if (sameDevice && !audioEngine_) {
        throw WhisperError::microphoneUnavailable("There is no recording to resume");
    }
    if (callback) {
        std::lock_guard lock(live_->mutex);
        live_->audioBufferCallback = std::move(callback);
    }
    if (sameDevice) {
        try {
            captureSource().resume();
        } catch (const platform::AudioCaptureError& error) {
            throw WhisperError::microphoneUnavailable(error.what());
        }
        return;
    }
    stopStream();
    audioEngine_ = setupEngine(inputDeviceID);
    // Remembered, so that going back to the earlier device opens it again.
    lastInputDevice_ = inputDeviceID;
}

void AudioProcessor::pauseRecording()
{
    std::lock_guard control(controlMutex_);
    if (audioEngine_) {
        captureSource().pause();
    }
}

void AudioProcessor::stopRecording()
{
    std::lock_guard control(controlMutex_);
    stopStream();
}

} // namespace auris
