#include "Auris/Audio/AudioProcessing.hpp"

#include "Auris/Audio/AudioBufferUtilities.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "platform/audio/PCMBuffer.hpp"
#include "platform/system/Folders.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <string>

namespace auris {

namespace {

void saveWindow(const ml::MultiArray& window, int startAt, int length)
{
    try {
        auto buffer = platform::PCMBuffer::make({double(AudioProcessing::sampleRate), 1}, static_cast<std::uint32_t>(length));
        if (!buffer) {
            throw std::bad_alloc();
        }
        const float* samples = window.data<float>();
        std::copy(samples, samples + length, buffer->channelData(0));
        buffer->setFrameLength(static_cast<std::uint32_t>(length));
        const auto file = platform::Folders::downloads() / "AurisSegments"
            / ("segment_" + platform::numberText(static_cast<double>(startAt) / 16000.0) + ".wav");
        writeFileCreatingDirectories(*buffer, file);
        Logging::debug("Saved audio segment to " + file.string());
    } catch (const std::exception& error) {
        Logging::debug(std::string("Could not save file: ") + error.what());
    }
}

} // namespace

std::optional<ml::MultiArray> AudioProcessing::padOrTrimAudio(
    std::span<const float> audioArray, int startAt, int toLength, bool saveSegment)
{
    if (startAt < 0) {
        return std::nullopt;
    }
    std::optional<ml::MultiArray> window;
    try {
        window.emplace(std::vector<int> {toLength}, ml::MultiArrayDataType::float32);
    } catch (const ml::MultiArrayError&) {
        return std::nullopt;
    }
    const std::size_t start = static_cast<std::size_t>(startAt);
    const std::size_t end = std::min(start + static_cast<std::size_t>(std::max(toLength, 0)), audioArray.size());
    // The new array is already zero past the copied samples.
    if (start < end) {
        std::copy(audioArray.begin() + static_cast<std::ptrdiff_t>(start), audioArray.begin() + static_cast<std::ptrdiff_t>(end),
            window->data<float>());
    }
    if (saveSegment) {
        saveWindow(*window, startAt, toLength);
    }
    return window;
}

WaveformImage AudioProcessing::createWaveformImage(std::span<const float> audio, WaveformImage::Size size)
{
    const std::string sizeText = std::to_string(size.width) + " x " + std::to_string(size.height);
    if (size.width <= 0 || size.height <= 0) {
        throw WhisperError::audioProcessingFailed("A waveform image of " + sizeText + " pixels has no pixels");
    }
    if (size.width > std::numeric_limits<int>::max() / WaveformImage::bytesPerPixel) {
        throw WhisperError::audioProcessingFailed("A waveform image of " + sizeText + " pixels is too wide");
    }
    const auto pixels = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
    if (audio.size() < pixels) {
        throw WhisperError::audioProcessingFailed("A waveform image of " + sizeText + " pixels needs "
            + std::to_string(pixels) + " samples, not " + std::to_string(audio.size()));
    }
    WaveformImage image {
        .width = size.width,
        .height = size.height,
        .bytesPerRow = size.width * WaveformImage::bytesPerPixel,
        .bytes = std::vector<std::uint8_t>(pixels * sizeof(float)),
    };
    std::memcpy(image.bytes.data(), audio.data(), image.bytes.size());
    return image;
}

} // namespace auris
