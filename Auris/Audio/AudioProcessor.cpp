#include "Auris/Audio/AudioProcessor.hpp"

#include "Auris/Audio/AudioBufferUtilities.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>

namespace auris {

namespace {

std::string describe(double sampleRate, int channelCount, std::int64_t frameLength)
{
    return "Sample Rate: " + platform::numberText(sampleRate) + " Hz, Channel Count: " + std::to_string(channelCount)
        + ", Frame Length: " + std::to_string(frameLength)
        + ", Duration: " + platform::numberText(static_cast<double>(frameLength) / sampleRate) + "s";
}

// The frames of [startTime, endTime) in a file of `length` frames at `sampleRate`.
std::pair<std::int64_t, std::uint32_t> frameRange(
    std::optional<double> startTime, std::optional<double> endTime, double sampleRate, std::int64_t length)
{
    const double start = startTime.value_or(0);
    if (!std::isfinite(start) || start < 0) {
        throw WhisperError::loadAudioFailed("Invalid start time " + platform::numberText(start));
    }
    if (endTime && (std::isnan(*endTime) || *endTime < 0)) {
        throw WhisperError::loadAudioFailed("Invalid end time " + platform::numberText(*endTime));
    }
    const double lengthSeconds = static_cast<double>(length) / sampleRate;
    if (start > lengthSeconds) {
        throw WhisperError::loadAudioFailed("Start time " + platform::numberText(start)
            + "s lies after the end of the audio (" + platform::numberText(lengthSeconds) + "s)");
    }
    const auto startFrame = static_cast<std::int64_t>(start * sampleRate);
    std::int64_t endFrame = length;
    if (endTime && *endTime < lengthSeconds) {
        endFrame = std::min(length, static_cast<std::int64_t>(*endTime * sampleRate));
    }
    if (endFrame < startFrame) {
        throw WhisperError::loadAudioFailed("End time " + platform::numberText(*endTime) + "s lies before start time "
            + platform::numberText(start) + "s");
    }
    if (endFrame - startFrame > std::numeric_limits<std::uint32_t>::max()) {
        throw WhisperError::loadAudioFailed("Audio range of " + std::to_string(endFrame - startFrame)
            + " frames is too long to load at once");
    }
    return {startFrame, static_cast<std::uint32_t>(endFrame - startFrame)};
}

void requireExisting(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
    }
}

// The file, positioned at the first frame of the range, and the range's frame count.
struct OpenedRange {
    platform::AudioFile file;
    std::uint32_t frameCount;
};

OpenedRange openRange(const std::string& path, std::optional<double> startTime, std::optional<double> endTime)
{
    platform::AudioFile file(path);
    const auto [startFrame, frameCount] = frameRange(startTime, endTime, file.processingFormat().sampleRate, file.length());
    file.setFramePosition(startFrame);
    return {std::move(file), frameCount};
}

platform::PCMBuffer readDirectly(platform::AudioFile& file, std::uint32_t frameCount)
{
    auto buffer = platform::PCMBuffer::make(file.processingFormat(), frameCount);
    if (!buffer) {
        throw WhisperError::loadAudioFailed("Unable to create audio buffer");
    }
    file.read(*buffer, frameCount);
    return std::move(*buffer);
}

} // namespace

platform::PCMBuffer AudioProcessor::loadAudio(const std::string& fromPath, std::optional<double> startTime, std::optional<double> endTime)
{
    requireExisting(fromPath);
    try {
        auto [file, frameCount] = openRange(fromPath, startTime, endTime);
        const platform::AudioFormat format = file.processingFormat();
        std::optional<platform::PCMBuffer> buffer;
        if (format.sampleRate == sampleRate && format.channelCount == 1) {
            buffer = readDirectly(file, frameCount);
        } else {
            buffer = resampleAudio(file, sampleRate, 1, frameCount, maxReadFrameSize);
            if (!buffer) {
                throw WhisperError::loadAudioFailed("Failed to process audio buffer");
            }
        }
        Logging::debug("Audio source details - " + describe(format.sampleRate, format.channelCount, file.length()));
        Logging::debug("Audio buffer details - "
            + describe(buffer->format().sampleRate, buffer->format().channelCount, buffer->frameLength()));
        logCurrentMemoryUsage("After loadAudio function");
        return std::move(*buffer);
    } catch (const platform::AudioFileError& failure) {
        throw WhisperError::loadAudioFailed(failure.what());
    }
}

std::vector<float> AudioProcessor::loadAudioSamples(
    const std::string& fromPath, std::optional<double> startTime, std::optional<double> endTime)
{
    requireExisting(fromPath);
    try {
        auto [file, frameCount] = openRange(fromPath, startTime, endTime);
        const platform::AudioFormat format = file.processingFormat();
        const bool direct = format.sampleRate == sampleRate && format.channelCount == 1;
        // The length resampleAudio plans, so that both roads give the same samples.
        const auto planned = direct ? std::size_t {frameCount}
                                    : static_cast<std::size_t>(sampleRate * (static_cast<double>(frameCount) / format.sampleRate));
        std::vector<float> samples;
        samples.reserve(planned);

        const std::uint32_t blockFrames = std::max<std::uint32_t>(1, std::min(maxReadFrameSize, frameCount));
        auto input = platform::PCMBuffer::make(format, blockFrames);
        const platform::AudioFormat engineFormat {static_cast<double>(sampleRate), 1};
        std::optional<platform::AudioConverter> converter;
        std::optional<platform::PCMBuffer> converted;
        if (!direct) {
            converter = platform::AudioConverter::make(format, engineFormat);
            converted = platform::PCMBuffer::make(engineFormat,
                static_cast<std::uint32_t>(std::floor(blockFrames * static_cast<double>(sampleRate) / format.sampleRate)) + 1);
        }
        if (!input || (!direct && (!converter || !converted))) {
            throw WhisperError::loadAudioFailed("Failed to process audio buffer");
        }
        // Appends what the converter gave, as far as the planned length allows.
        auto keep = [&](const platform::PCMBuffer& block) {
            const std::size_t count = std::min<std::size_t>(block.frameLength(), planned - samples.size());
            samples.insert(samples.end(), block.channelData(0), block.channelData(0) + count);
        };
        for (std::uint32_t framesRead = 0; framesRead < frameCount;) {
            file.read(*input, std::min(blockFrames, frameCount - framesRead));
            if (input->frameLength() == 0) {
                break;
            }
            framesRead += input->frameLength();
            if (direct) {
                keep(*input);
                continue;
            }
            converted->setFrameLength(0);
            converter->convert(*input, *converted);
            keep(*converted);
        }
        while (converter && samples.size() < planned) {
            converted->setFrameLength(0);
            if (converter->flush(*converted) == 0) {
                break;
            }
            keep(*converted);
        }
        Logging::debug("Audio source details - " + describe(format.sampleRate, format.channelCount, file.length()));
        Logging::debug("Audio samples details - " + describe(sampleRate, 1, static_cast<std::int64_t>(samples.size())));
        logCurrentMemoryUsage("After loadAudioSamples function");
        return samples;
    } catch (const platform::AudioFileError& failure) {
        throw WhisperError::loadAudioFailed(failure.what());
    }
}

std::future<platform::PCMBuffer> AudioProcessor::loadAudioAsync(const std::string& fromPath)
{
    return std::async(std::launch::async, [fromPath] { return loadAudio(fromPath); });
}

std::vector<AudioLoadResult> AudioProcessor::loadAudio(const std::vector<std::string>& paths)
{
    std::vector<AudioLoadResult> results(paths.size());
    std::atomic<std::size_t> next {0};
    auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            try {
                results[i] = loadAudioSamples(paths[i], 0.0);
            } catch (...) {
                results[i] = std::current_exception();
            }
        }
    };
    const std::size_t workers = std::min<std::size_t>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> threads;
    for (std::size_t i = 1; i < workers; ++i) {
        threads.emplace_back(work);
    }
    work();
    return results;
}

std::optional<platform::PCMBuffer> AudioProcessor::resampleAudio(platform::AudioFile& fromFile, double toSampleRate,
    int channelCount, std::optional<std::uint32_t> frameCount, std::uint32_t maxReadFrameSize)
{
    const platform::AudioFormat inputFormat = fromFile.processingFormat();
    const double inputRate = inputFormat.sampleRate;
    const std::int64_t rest = std::max<std::int64_t>(0, fromFile.length() - fromFile.framePosition());
    const std::uint32_t framesToRead
        = frameCount.value_or(static_cast<std::uint32_t>(std::min<std::int64_t>(rest, std::numeric_limits<std::uint32_t>::max())));

    const auto outputFormat = platform::AudioFormat::standard(toSampleRate, channelCount);
    if (!outputFormat) {
        Logging::error("Failed to create output audio format");
        return std::nullopt;
    }
    const double duration = static_cast<double>(framesToRead) / inputRate;
    Logging::debug("Resampling " + formatString("%.2f", duration) + " seconds of audio");

    const double capacity = outputFormat->sampleRate * duration;
    std::optional<platform::PCMBuffer> output;
    if (capacity < static_cast<double>(std::numeric_limits<std::uint32_t>::max()) + 1) {
        output = platform::PCMBuffer::make(*outputFormat, static_cast<std::uint32_t>(capacity));
    }
    if (!output) {
        Logging::error("Failed to create output buffer");
        return std::nullopt;
    }
    const std::uint32_t blockFrames = std::max<std::uint32_t>(1, std::min(maxReadFrameSize, std::max<std::uint32_t>(framesToRead, 1)));
    auto input = platform::PCMBuffer::make(inputFormat, blockFrames);
    auto converter = platform::AudioConverter::make(inputFormat, *outputFormat);
    if (!input || !converter) {
        Logging::error(input ? "Failed to create audio converter" : "Failed to create input buffer");
        return std::nullopt;
    }

    std::uint32_t framesRead = 0;
    while (framesRead < framesToRead) {
        const std::uint32_t count = std::min(blockFrames, framesToRead - framesRead);
        const auto position = static_cast<double>(fromFile.framePosition());
        Logging::debug("Resampling " + formatString("%.2f", position / inputRate) + "s - "
            + formatString("%.2f", (position + count) / inputRate) + "s");
        try {
            fromFile.read(*input, count);
        } catch (const platform::AudioFileError& error) {
            Logging::error(std::string("Error reading audio file: ") + error.what());
            throw;
        }
        if (input->frameLength() == 0) {
            break;
        }
        framesRead += input->frameLength();
        std::optional<platform::PCMBuffer> converted;
        try {
            converted = resampleBuffer(*input, *converter);
        } catch (const WhisperError& error) {
            Logging::error(std::string("Failed to resample buffer: ") + error.what());
        }
        if (!converted) {
            Logging::error("Failed to resample audio chunk");
            return std::nullopt;
        }
        if (!appendBufferContents(*output, *converted, 0, converted->frameLength())) {
            Logging::error("Failed to append audio chunk");
            return std::nullopt;
        }
    }
    try {
        // The filter's last frames, as far as the planned length allows.
        converter->flush(*output);
    } catch (const platform::AudioFileError& error) {
        Logging::error(std::string("Failed to resample buffer: ") + error.what());
        Logging::error("Failed to resample audio chunk");
        return std::nullopt;
    }
    return output;
}

std::optional<platform::PCMBuffer> AudioProcessor::resampleAudio(
    const platform::PCMBuffer& fromBuffer, double toSampleRate, int channelCount)
{
    const auto outputFormat = platform::AudioFormat::standard(toSampleRate, channelCount);
    if (!outputFormat) {
        Logging::error("Failed to create output audio format");
        return std::nullopt;
    }
    auto converter = platform::AudioConverter::make(fromBuffer.format(), *outputFormat);
    if (!converter) {
        Logging::error("Failed to create audio converter");
        return std::nullopt;
    }
    try {
        platform::PCMBuffer output = resampleBuffer(fromBuffer, *converter);
        converter->flush(output);
        return output;
    } catch (const std::exception& error) {
        Logging::error(std::string("Failed to resample buffer: ") + error.what());
        return std::nullopt;
    }
}

platform::PCMBuffer AudioProcessor::resampleBuffer(const platform::PCMBuffer& buffer, platform::AudioConverter& converter)
{
    // One frame beyond the exact share lets a converter fed small buffers drain the fraction it
    // holds back each time, instead of building a growing delay.
    const double capacity = std::floor(static_cast<double>(buffer.frameLength()) * converter.outputFormat().sampleRate
                                / converter.inputFormat().sampleRate) + 1;
    std::optional<platform::PCMBuffer> output;
    if (capacity < static_cast<double>(std::numeric_limits<std::uint32_t>::max()) + 1) {
        output = platform::PCMBuffer::make(converter.outputFormat(), static_cast<std::uint32_t>(capacity));
    }
    if (!output) {
        throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    }
    try {
        converter.convert(buffer, *output);
    } catch (const platform::AudioFileError& error) {
        throw WhisperError::audioProcessingFailed(std::string("Error converting audio: ") + error.what());
    }
    return std::move(*output);
}

std::vector<float> AudioProcessor::convertBufferToArray(platform::PCMBuffer& buffer, int chunkSize)
{
    const std::uint32_t length = buffer.frameLength();
    const std::uint32_t step = chunkSize > 0 ? static_cast<std::uint32_t>(chunkSize) : std::max<std::uint32_t>(length, 1);
    std::vector<float> result;
    result.reserve(length);
    float* samples = buffer.channelData(0);
    for (std::uint32_t offset = 0; offset < length; offset += std::min(step, length - offset)) {
        const std::uint32_t count = std::min(step, length - offset);
        result.insert(result.end(), samples + offset, samples + offset + count);
        // Released as it goes, as the source is not needed again.
        std::fill(samples + offset, samples + offset + count, 0.0f);
    }
    return result;
}

} // namespace auris
