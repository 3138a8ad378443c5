#include "platform/audio/AudioConverter.hpp"

#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/FFmpegSupport.hpp"

#include <climits>
#include <vector>

namespace platform {

void AudioConverter::Release::operator()(SwrContext* context) const
{
    swr_free(&context);
}

std::optional<AudioConverter> AudioConverter::make(const AudioFormat& inputFormat, const AudioFormat& outputFormat)
{
    if (!AudioFormat::standard(inputFormat.sampleRate, inputFormat.channelCount)
        || !AudioFormat::standard(outputFormat.sampleRate, outputFormat.channelCount)
        || inputFormat.sampleRate > INT_MAX || outputFormat.sampleRate > INT_MAX
        || inputFormat.sampleRate != static_cast<int>(inputFormat.sampleRate)
        || outputFormat.sampleRate != static_cast<int>(outputFormat.sampleRate)) {
        return std::nullopt;
    }
    ffmpeg::quietenLibraryLog();
    AVChannelLayout inputLayout;
    AVChannelLayout outputLayout;
    av_channel_layout_default(&inputLayout, inputFormat.channelCount);
    av_channel_layout_default(&outputLayout, outputFormat.channelCount);
    SwrContext* raw = nullptr;
    const int status = swr_alloc_set_opts2(&raw, &outputLayout, AV_SAMPLE_FMT_FLTP, static_cast<int>(outputFormat.sampleRate),
        &inputLayout, AV_SAMPLE_FMT_FLTP, static_cast<int>(inputFormat.sampleRate), 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_uninit(&outputLayout);
    std::unique_ptr<SwrContext, Release> context(raw);
    if (status < 0 || !context) {
        return std::nullopt;
    }
    const int in = inputFormat.channelCount;
    const int out = outputFormat.channelCount;
    if (in != out && (out == 1 || in == 1)) {
        // Speech panned to one side must survive the mix, so channels are averaged, not picked.
        std::vector<double> matrix(static_cast<std::size_t>(in * out), out == 1 ? 1.0 / in : 1.0);
        if (swr_set_matrix(context.get(), matrix.data(), in) < 0) {
            return std::nullopt;
        }
    }
    if (swr_init(context.get()) < 0) {
        return std::nullopt;
    }
    return AudioConverter(inputFormat, outputFormat, std::move(context));
}

AudioConverter::AudioConverter(
    const AudioFormat& inputFormat, const AudioFormat& outputFormat, std::unique_ptr<SwrContext, Release> context)
    : inputFormat_(inputFormat)
    , outputFormat_(outputFormat)
    , context_(std::move(context))
{
}

AudioConverter::~AudioConverter() = default;
AudioConverter::AudioConverter(AudioConverter&&) noexcept = default;
AudioConverter& AudioConverter::operator=(AudioConverter&&) noexcept = default;

std::uint32_t AudioConverter::convert(const PCMBuffer& input, PCMBuffer& output)
{
    if (input.format() != inputFormat_) {
        throw AudioFileError("The input buffer's format does not match the converter's");
    }
    return run(&input, output);
}

std::uint32_t AudioConverter::flush(PCMBuffer& output)
{
    return run(nullptr, output);
}

std::uint32_t AudioConverter::run(const PCMBuffer* input, PCMBuffer& output)
{
    if (output.format() != outputFormat_) {
        throw AudioFileError("The output buffer's format does not match the converter's");
    }
    std::vector<const std::uint8_t*> inputPlanes;
    std::uint32_t inputFrames = 0;
    if (input) {
        for (int c = 0; c < inputFormat_.channelCount; ++c) {
            inputPlanes.push_back(reinterpret_cast<const std::uint8_t*>(input->channelData(c)));
        }
        inputFrames = input->frameLength();
    }
    std::uint32_t appended = 0;
    // Each call converts at most INT_MAX frames; a flush may need several calls to drain.
    do {
        const std::uint32_t start = output.frameLength();
        const std::uint32_t room = std::min<std::uint32_t>(output.frameCapacity() - start, INT_MAX);
        std::vector<std::uint8_t*> outputPlanes;
        for (int c = 0; c < outputFormat_.channelCount; ++c) {
            outputPlanes.push_back(reinterpret_cast<std::uint8_t*>(output.channelData(c) + start));
        }
        const int feed = static_cast<int>(std::min<std::uint32_t>(inputFrames, INT_MAX));
        const int produced = swr_convert(context_.get(), outputPlanes.data(), static_cast<int>(room),
            input ? inputPlanes.data() : nullptr, feed);
        if (produced < 0) {
            throw AudioFileError("Audio conversion failed: " + ffmpeg::errorText(produced));
        }
        output.setFrameLength(start + static_cast<std::uint32_t>(produced));
        appended += static_cast<std::uint32_t>(produced);
        if (input) {
            inputFrames -= static_cast<std::uint32_t>(feed);
            for (auto& plane : inputPlanes) {
                plane += static_cast<std::size_t>(feed) * sizeof(float);
            }
            if (inputFrames == 0) {
                break;
            }
        } else if (produced == 0 || output.frameLength() == output.frameCapacity()) {
            break;
        }
    } while (true);
    return appended;
}

} // namespace platform
