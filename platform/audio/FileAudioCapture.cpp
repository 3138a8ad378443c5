#include "platform/audio/FileAudioCapture.hpp"

#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace platform {

namespace {

constexpr std::uint32_t readFrames = 16384;
constexpr std::chrono::seconds deliveryTimeout {60};

std::optional<AudioCaptureFormat> nativeFormatOf(const std::filesystem::path& file)
{
    try {
        const AudioFile audio(file);
        const AudioFormat& format = audio.processingFormat();
        const AudioCaptureFormat native {static_cast<std::uint32_t>(std::lround(format.sampleRate)),
            static_cast<std::uint32_t>(format.channelCount)};
        return native.isValid() ? std::optional(native) : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void appendInterleaved(const PCMBuffer& buffer, std::vector<float>& samples)
{
    const int channels = buffer.format().channelCount;
    for (std::uint32_t frame = 0; frame < buffer.frameLength(); ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            samples.push_back(buffer.channelData(channel)[frame]);
        }
    }
}

} // namespace

FileAudioCapture::FileAudioCapture(std::filesystem::path file)
    : file_(std::move(file))
{
}

std::vector<float> FileAudioCapture::decode(const std::filesystem::path& file, AudioCaptureFormat format)
{
    AudioFile audio(file);
    const auto target = AudioFormat::standard(format.sampleRate, static_cast<int>(format.channelCount));
    if (!target) {
        throw AudioFileError("Unsupported capture format");
    }
    auto converter = AudioConverter::make(audio.processingFormat(), *target);
    auto input = PCMBuffer::make(audio.processingFormat(), readFrames);
    const double ratio = target->sampleRate / audio.processingFormat().sampleRate;
    auto output = PCMBuffer::make(*target, static_cast<std::uint32_t>(std::ceil(readFrames * ratio)) + 1024);
    if (!converter || !input || !output) {
        throw AudioFileError("Cannot convert " + file.filename().string() + " to the capture format");
    }
    std::vector<float> samples;
    for (;;) {
        audio.read(*input, readFrames);
        if (input->frameLength() == 0) {
            break;
        }
        output->setFrameLength(0);
        converter->convert(*input, *output);
        appendInterleaved(*output, samples);
    }
    output->setFrameLength(0);
    converter->flush(*output);
    appendInterleaved(*output, samples);
    return samples;
}

std::vector<AudioInputDevice> FileAudioCapture::inputDevices()
{
    const auto native = nativeFormatOf(file_);
    if (!native) {
        return {};
    }
    return {AudioInputDevice {1, deviceName, file_.filename().string(), true, *native}};
}

AudioCaptureFormat FileAudioCapture::start(const AudioCaptureRequest& request, BlockCallback onBlock,
                                           FailureCallback onFailure)
{
    stream_.setDevices(inputDevices());
    const AudioCaptureFormat format = stream_.start(request, std::move(onBlock), std::move(onFailure));
    std::vector<float> samples;
    try {
        samples = decode(file_, format);
    } catch (const std::exception& error) {
        stream_.stop();
        throw AudioCaptureError(error.what());
    }
    // Silence completes the last block, which would otherwise wait for more audio.
    const std::size_t block = request.blockFramesFor(format.sampleRate) * format.channelCount;
    if (block > 0 && samples.size() % block != 0) {
        samples.resize(samples.size() + block - samples.size() % block, 0.0f);
    }
    // In pieces the stream holds without dropping any.
    const std::size_t piece = std::size_t {format.sampleRate} * format.channelCount * (FakeAudioCapture::maxPendingSeconds / 2);
    for (std::size_t offset = 0; offset < samples.size(); offset += piece) {
        const std::size_t count = std::min(piece, samples.size() - offset);
        stream_.push(std::span<const float>(samples).subspan(offset, count));
        if (!stream_.waitUntilDelivered(deliveryTimeout)) {
            stream_.stop();
            throw AudioCaptureError("The capture file could not be delivered");
        }
    }
    return format;
}

void FileAudioCapture::pause()
{
    stream_.pause();
}

void FileAudioCapture::resume()
{
    stream_.resume();
}

void FileAudioCapture::stop()
{
    stream_.stop();
}

bool FileAudioCapture::isCapturing() const
{
    return stream_.isCapturing();
}

} // namespace platform
