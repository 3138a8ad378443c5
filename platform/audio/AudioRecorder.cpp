#include "platform/audio/AudioRecorder.hpp"

#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileWriter.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace platform {

// What the capture callbacks share with the recorder; it outlives both.
struct AudioRecorder::State {
    std::mutex mutex;
    Delegate delegate;
    AudioFormat fileFormat;
    std::optional<AudioFileWriter> writer;
    std::optional<AudioConverter> converter;
    bool recording = false;
    // Planes of the kept audio, one per channel of the file, while the recording is at most
    // `keptFrames` long.
    std::int64_t keptFrames = 0;
    std::vector<std::vector<float>> kept;
    bool encodeFailed = false;
    bool finishReported = false;
    std::int64_t framesWritten = 0;

    void reportEncodeError(std::unique_lock<std::mutex>& lock, const std::string& message)
    {
        encodeFailed = true;
        const auto callback = delegate.encodeErrorDidOccur;
        lock.unlock();
        if (callback) {
            callback(message);
        }
    }

    void reportFinish(std::unique_lock<std::mutex>& lock, bool successfully)
    {
        if (finishReported) {
            return;
        }
        finishReported = true;
        const auto callback = delegate.didFinishRecording;
        lock.unlock();
        if (callback) {
            callback(successfully);
        }
    }

    void write(const PCMBuffer& buffer)
    {
        writer->write(buffer);
        framesWritten += buffer.frameLength();
        if (framesWritten > keptFrames) {
            // Too long to hold: the memory goes back at once, and the file is all there is.
            keptFrames = 0;
            std::vector<std::vector<float>>().swap(kept);
            return;
        }
        kept.resize(static_cast<std::size_t>(fileFormat.channelCount));
        for (int c = 0; c < fileFormat.channelCount; ++c) {
            const auto samples = buffer.channel(c);
            kept[static_cast<std::size_t>(c)].insert(kept[static_cast<std::size_t>(c)].end(), samples.begin(), samples.end());
        }
    }

    // Converted frames of `input` go to the file; the converter is made for the first block of a
    // format other than the file's.
    void encode(const PCMBuffer& input)
    {
        if (input.format() == fileFormat) {
            write(input);
            return;
        }
        if (!converter || converter->inputFormat() != input.format()) {
            converter = AudioConverter::make(input.format(), fileFormat);
            if (!converter) {
                throw AudioFileError("Cannot convert captured audio to the file's format");
            }
        }
        const double ratio = fileFormat.sampleRate / input.format().sampleRate;
        const auto capacity = static_cast<std::uint32_t>(std::ceil(input.frameLength() * ratio)) + 256;
        auto output = PCMBuffer::make(fileFormat, capacity);
        if (!output) {
            throw AudioFileError("Out of memory while recording");
        }
        converter->convert(input, *output);
        write(*output);
    }

    void onBlock(const AudioCaptureBlock& block)
    {
        std::unique_lock lock(mutex);
        if (!writer || encodeFailed) {
            return;
        }
        try {
            const auto format = AudioFormat::standard(block.format.sampleRate, static_cast<int>(block.format.channelCount));
            if (!format) {
                throw AudioFileError("The capture delivered an unsupported format");
            }
            const auto frames = static_cast<std::uint32_t>(block.frameCount());
            auto input = PCMBuffer::make(*format, frames);
            if (!input) {
                throw AudioFileError("Out of memory while recording");
            }
            for (int c = 0; c < format->channelCount; ++c) {
                float* plane = input->channelData(c);
                for (std::uint32_t i = 0; i < frames; ++i) {
                    plane[i] = block.samples[static_cast<std::size_t>(i) * format->channelCount + c];
                }
            }
            input->setFrameLength(frames);
            encode(*input);
        } catch (const AudioFileError& error) {
            reportEncodeError(lock, error.what());
        }
    }

    void onFailure(const std::string& reason)
    {
        std::unique_lock lock(mutex);
        if (finishReported) {
            return;
        }
        if (const auto told = delegate.captureDidFail) {
            lock.unlock();
            told(reason);
            lock.lock();
        }
        reportFinish(lock, false);
    }
};

AudioRecorder::AudioRecorder(std::filesystem::path url, AudioFileSettings settings,
    std::shared_ptr<AudioCaptureSource> source, Delegate delegate)
    : url_(std::move(url))
    , settings_(settings)
    , source_(std::move(source))
    , state_(std::make_shared<State>())
{
    state_->delegate = std::move(delegate);
}

AudioRecorder::~AudioRecorder()
{
    stop();
}

void AudioRecorder::record()
{
    const auto format = AudioFormat::standard(settings_.sampleRate, settings_.channelCount);
    if (!format) {
        throw AudioFileError("Unsupported recording settings");
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->fileFormat = *format;
        std::unique_ptr<AudioFileOutput> output;
        try {
            // A file that appeared at the name meanwhile is someone else's: it is never replaced.
            output = makeOutput_ ? makeOutput_(url_) : AudioFileOutput::create(url_);
        } catch (const std::system_error& error) {
            throw AudioFileError("Cannot create audio file " + url_.string() + ": " + error.code().message());
        }
        state_->writer.emplace(std::move(output), settings_);
        state_->recording = true;
    }
    AudioCaptureRequest request;
    request.sampleRate = static_cast<std::uint32_t>(settings_.sampleRate);
    request.channelCount = static_cast<std::uint32_t>(settings_.channelCount);
    request.framesPerBlock = static_cast<std::size_t>(std::lround(settings_.sampleRate * blockSeconds));
    try {
        const std::shared_ptr<State> state = state_;
        source_->start(request, [state](const AudioCaptureBlock& block) { state->onBlock(block); },
            [state](const std::string& reason) { state->onFailure(reason); });
    } catch (...) {
        std::lock_guard lock(state_->mutex);
        state_->recording = false;
        state_->writer.reset();
        std::error_code ignored;
        std::filesystem::remove(url_, ignored);
        throw;
    }
}

void AudioRecorder::stop()
{
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->recording) {
            return;
        }
        state_->recording = false;
    }
    source_->stop();
    std::unique_lock lock(state_->mutex);
    try {
        if (state_->converter && !state_->encodeFailed) {
            auto tail = PCMBuffer::make(state_->fileFormat, 4096);
            if (tail && state_->converter->flush(*tail) > 0) {
                state_->write(*tail);
            }
        }
        state_->writer->close();
        state_->writer.reset();
    } catch (const AudioFileError& error) {
        state_->writer.reset();
        if (!state_->encodeFailed) {
            state_->reportEncodeError(lock, error.what());
        }
        return;
    }
    if (!state_->encodeFailed) {
        state_->reportFinish(lock, true);
    }
}

void AudioRecorder::setOutputFactory(OutputFactory factory)
{
    makeOutput_ = std::move(factory);
}

bool AudioRecorder::encodeFailed() const
{
    std::lock_guard lock(state_->mutex);
    return state_->encodeFailed;
}

void AudioRecorder::setKeepsRecordedAudio(std::int64_t frames)
{
    std::lock_guard lock(state_->mutex);
    state_->keptFrames = frames;
}

std::optional<PCMBuffer> AudioRecorder::takeRecordedAudio()
{
    std::lock_guard lock(state_->mutex);
    if (state_->recording || state_->keptFrames <= 0) {
        return std::nullopt;
    }
    state_->keptFrames = 0;
    const auto planes = std::exchange(state_->kept, {});
    const std::size_t frames = planes.empty() ? 0 : planes.front().size();
    auto buffer = PCMBuffer::make(state_->fileFormat, static_cast<std::uint32_t>(frames));
    if (!buffer) {
        return std::nullopt;
    }
    for (std::size_t c = 0; c < planes.size(); ++c) {
        std::copy(planes[c].begin(), planes[c].end(), buffer->channelData(static_cast<int>(c)));
    }
    buffer->setFrameLength(static_cast<std::uint32_t>(frames));
    return buffer;
}

bool AudioRecorder::isRecording() const
{
    std::lock_guard lock(state_->mutex);
    return state_->recording;
}

std::int64_t AudioRecorder::framesWritten() const
{
    std::lock_guard lock(state_->mutex);
    return state_->framesWritten;
}

} // namespace platform
