#include "platform/audio/AudioPlayer.hpp"

#include "platform/audio/AudioFile.hpp"
#include "platform/audio/PCMBuffer.hpp"
#include "platform/audio/PulseConnection.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <optional>

namespace platform {

namespace {
constexpr std::uint32_t framesPerRead = 4096;
constexpr pa_usec_t bufferedMicroseconds = 200000;
} // namespace

class AudioPlayer::Playback {
public:
    Playback(SoundServerOptions options, std::filesystem::path file, Callbacks callbacks)
        : options_(std::move(options))
        , file_(std::move(file))
        , callbacks_(std::move(callbacks))
    {
    }

    // On the playback's own thread.
    void run()
    {
        if (open()) {
            play();
        }
        report();
        threadEnded_ = true;
    }

    // After it returns, no callback runs.
    void stop()
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        changed_.notify_all();
    }

    bool isActive() const
    {
        std::lock_guard lock(mutex_);
        return !stopRequested_ && outcome_ == Outcome::none;
    }

    bool threadEnded() const { return threadEnded_; }

private:
    enum class Outcome { none, finished, decodeError, failure };

    bool open()
    {
        try {
            audio_.emplace(file_);
            const AudioFormat& format = audio_->processingFormat();
            if (format.channelCount > static_cast<int>(PA_CHANNELS_MAX) || format.sampleRate > PA_RATE_MAX
                || format.sampleRate != std::floor(format.sampleRate)) {
                settle(Outcome::decodeError, "The audio format of " + file_.string() + " cannot be played");
                return false;
            }
            buffer_ = PCMBuffer::make(format, framesPerRead);
            if (!buffer_) {
                settle(Outcome::decodeError, "Out of memory for playback");
                return false;
            }
            interleaved_.resize(std::size_t {framesPerRead} * static_cast<std::size_t>(format.channelCount));
            return true;
        } catch (const std::exception& error) {
            settle(Outcome::decodeError, error.what());
            return false;
        }
    }

    void play()
    {
        if (!isActive()) {
            return;
        }
        try {
            PulseConnection connection(options_);
            pa_stream* stream = nullptr;
            if (connect(connection, stream)) {
                deliver([&] {
                    if (callbacks_.onStarted) {
                        callbacks_.onStarted(static_cast<double>(audio_->length()) / audio_->processingFormat().sampleRate);
                    }
                });
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopRequested_ || outcome_ != Outcome::none; });
            }
            MainloopLock lock(connection.loop());
            connection.setLostHandler({});
            PulseConnection::closeStream(stream);
        } catch (const SoundServerError& error) {
            settle(Outcome::failure, error.what());
        }
    }

    // With the stream ready, the event thread feeds it from here on.
    bool connect(PulseConnection& connection, pa_stream*& stream)
    {
        MainloopLock lock(connection.loop());
        const AudioFormat& format = audio_->processingFormat();
        const pa_sample_spec spec {PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(format.sampleRate),
                                   static_cast<std::uint8_t>(format.channelCount)};
        pa_channel_map map;
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        stream = pa_stream_new(connection.context(), "Playback", &spec, &map);
        if (!stream) {
            settle(Outcome::failure, "Cannot open the sound output: " + PulseConnection::contextError(connection.context()));
            return false;
        }
        pa_stream_set_state_callback(stream, &Playback::onStreamState, this);
        pa_stream_set_write_callback(stream, &Playback::onWritable, this);
        connection.setLostHandler([this](const std::string& reason) {
            settle(Outcome::failure, "The connection to the sound server was lost: " + reason);
        });
        context_ = connection.context();
        loop_ = connection.loop();

        pa_buffer_attr attributes;
        attributes.maxlength = std::numeric_limits<std::uint32_t>::max();
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(bufferedMicroseconds, &spec));
        attributes.prebuf = std::numeric_limits<std::uint32_t>::max();
        attributes.minreq = std::numeric_limits<std::uint32_t>::max();
        attributes.fragsize = std::numeric_limits<std::uint32_t>::max();
        if (pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
            settle(Outcome::failure, "Cannot open the sound output: " + PulseConnection::contextError(connection.context()));
            return false;
        }
        const bool settled = connection.waitUntil([&] {
            const auto state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            settle(Outcome::failure, "Cannot open the sound output: "
                                         + (settled ? PulseConnection::contextError(connection.context())
                                                    : std::string("timed out")));
            return false;
        }
        return true;
    }

    // On the event thread, loop locked.
    void feed(pa_stream* stream, std::size_t byteCount)
    {
        if (allWritten_) {
            return;
        }
        const auto channels = static_cast<std::size_t>(audio_->processingFormat().channelCount);
        std::size_t frames = byteCount / (sizeof(float) * channels);
        try {
            while (frames > 0 && audio_->framePosition() < audio_->length()) {
                const auto wanted = static_cast<std::uint32_t>(std::min<std::size_t>(frames, framesPerRead));
                audio_->read(*buffer_, wanted);
                const std::uint32_t read = buffer_->frameLength();
                if (read == 0) {
                    break;
                }
                for (std::size_t channel = 0; channel < channels; ++channel) {
                    const float* plane = buffer_->channelData(static_cast<int>(channel));
                    for (std::uint32_t frame = 0; frame < read; ++frame) {
                        interleaved_[frame * channels + channel] = plane[frame];
                    }
                }
                if (pa_stream_write(stream, interleaved_.data(), read * channels * sizeof(float), nullptr, 0,
                                    PA_SEEK_RELATIVE) < 0) {
                    allWritten_ = true;
                    settle(Outcome::failure, "Cannot send audio to the sound server: " + PulseConnection::contextError(context_));
                    return;
                }
                frames -= read;
            }
        } catch (const std::exception& error) {
            allWritten_ = true;
            settle(Outcome::decodeError, error.what());
            return;
        }
        if (audio_->framePosition() >= audio_->length()) {
            allWritten_ = true;
            // Draining ends once the server has played every sample written.
            if (pa_operation* operation = pa_stream_drain(stream, &Playback::onDrained, this)) {
                pa_operation_unref(operation);
            } else {
                settle(Outcome::failure, "Cannot finish playback: " + PulseConnection::contextError(context_));
            }
        }
    }

    static void onWritable(pa_stream* stream, std::size_t byteCount, void* userdata)
    {
        static_cast<Playback*>(userdata)->feed(stream, byteCount);
    }

    static void onStreamState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<Playback*>(userdata);
        const auto state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            self->settle(Outcome::failure, "The sound output stopped: " + PulseConnection::contextError(self->context_));
        }
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    static void onDrained(pa_stream*, int success, void* userdata)
    {
        auto* self = static_cast<Playback*>(userdata);
        if (success) {
            self->settle(Outcome::finished, {});
        } else {
            self->settle(Outcome::failure, "Cannot finish playback: " + PulseConnection::contextError(self->context_));
        }
    }

    void settle(Outcome outcome, std::string message)
    {
        std::lock_guard lock(mutex_);
        if (outcome_ == Outcome::none) {
            outcome_ = outcome;
            message_ = std::move(message);
        }
        changed_.notify_all();
    }

    template <typename Call>
    void deliver(Call&& call)
    {
        std::lock_guard lock(mutex_);
        if (!stopRequested_) {
            call();
        }
    }

    void report()
    {
        deliver([&] {
            switch (outcome_) {
            case Outcome::finished:
                if (callbacks_.onFinished) {
                    callbacks_.onFinished();
                }
                break;
            case Outcome::decodeError:
                if (callbacks_.onDecodeError) {
                    callbacks_.onDecodeError(message_);
                }
                break;
            case Outcome::failure:
                if (callbacks_.onFailure) {
                    callbacks_.onFailure(message_);
                }
                break;
            case Outcome::none:
                break;
            }
        });
    }

    SoundServerOptions options_;
    std::filesystem::path file_;
    Callbacks callbacks_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopRequested_ = false;
    Outcome outcome_ = Outcome::none;
    std::string message_;
    std::atomic<bool> threadEnded_ {false};

    // Read by the event thread once the stream is connected.
    std::optional<AudioFile> audio_;
    std::optional<PCMBuffer> buffer_;
    std::vector<float> interleaved_;
    bool allWritten_ = false;
    pa_context* context_ = nullptr;
    pa_threaded_mainloop* loop_ = nullptr;
};

AudioPlayer::AudioPlayer(SoundServerOptions options)
    : options_(std::move(options))
{
}

AudioPlayer::~AudioPlayer()
{
    std::vector<Running> threads;
    {
        std::lock_guard lock(mutex_);
        retireCurrent();
        threads = std::move(threads_);
    }
    for (auto& running : threads) {
        running.thread.join();
    }
}

void AudioPlayer::play(const std::filesystem::path& file, Callbacks callbacks)
{
    std::lock_guard lock(mutex_);
    retireCurrent();
    joinEnded();
    auto playback = std::make_shared<Playback>(options_, file, std::move(callbacks));
    std::thread thread([playback] { playback->run(); });
    current_ = playback;
    threads_.push_back({std::move(playback), std::move(thread)});
}

void AudioPlayer::stop()
{
    std::lock_guard lock(mutex_);
    retireCurrent();
    joinEnded();
}

bool AudioPlayer::isPlaying() const
{
    std::lock_guard lock(mutex_);
    return current_ && current_->isActive();
}

void AudioPlayer::retireCurrent()
{
    if (current_) {
        current_->stop();
        current_.reset();
    }
}

void AudioPlayer::joinEnded()
{
    std::erase_if(threads_, [](Running& running) {
        if (!running.playback->threadEnded()) {
            return false;
        }
        running.thread.join();
        return true;
    });
}

} // namespace platform
