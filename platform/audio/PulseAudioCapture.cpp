#include "platform/audio/PulseAudioCapture.hpp"

#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioCaptureWorker.hpp"
#include "platform/audio/PulseConnection.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace platform {

namespace {

struct SourceLookup {
    bool found = false;
    pa_sample_spec nativeFormat {};
    pa_channel_map map {};

    static void receive(pa_context*, const pa_source_info* info, int eol, void* userdata)
    {
        auto* self = static_cast<SourceLookup*>(userdata);
        if (eol == 0 && info && !self->found) {
            self->found = true;
            self->nativeFormat = info->sample_spec;
            self->map = info->channel_map;
        }
    }
};

std::string defaultSourceName(PulseConnection& connection)
{
    std::string name;
    auto* operation = pa_context_get_server_info(
        connection.context(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            if (info && info->default_source_name) {
                *static_cast<std::string*>(userdata) = PulseConnection::serverText(info->default_source_name);
            }
        },
        &name);
    if (!connection.finish(operation)) {
        throw AudioCaptureError("Cannot ask the sound server for its default input: " + connection.lastError());
    }
    return name;
}

} // namespace

class PulseAudioCapture::Session {
public:
    Session(const PulseAudioCaptureOptions& options, const AudioCaptureRequest& request, BlockCallback onBlock,
            FailureCallback onFailure) try
        : connection_(options)
    {
        try {
            open(request, std::move(onBlock), std::move(onFailure));
        } catch (...) {
            close();
            throw;
        }
    } catch (const SoundServerError& error) {
        throw AudioCaptureError(error.what());
    }

    ~Session() { close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    AudioCaptureFormat format() const { return worker_->format(); }
    bool isRunning() const { return worker_->isRunning(); }

    void setPaused(bool paused)
    {
        // Hold delivery before the server stops sending, release it after it sends again.
        if (paused) {
            worker_->setPaused(true);
        }
        {
            MainloopLock lock(connection_.loop());
            if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
                if (paused) {
                    return;
                }
                throw AudioCaptureError("There is no capture stream to resume");
            }
            bool succeeded = false;
            auto* operation = pa_stream_cork(
                stream_, paused ? 1 : 0,
                [](pa_stream*, int success, void* userdata) { *static_cast<bool*>(userdata) = success != 0; },
                &succeeded);
            if ((!connection_.finish(operation) || !succeeded) && !paused) {
                throw AudioCaptureError("Cannot resume capture: " + connection_.lastError());
            }
        }
        if (!paused) {
            worker_->setPaused(false);
        }
    }

private:
    void open(const AudioCaptureRequest& request, BlockCallback onBlock, FailureCallback onFailure)
    {
        MainloopLock lock(connection_.loop());
        const std::string name = request.deviceName ? *request.deviceName : defaultSourceName(connection_);
        const std::string deviceText = request.deviceName ? "the input device \"" + name + "\"" : "the default input device";
        if (name.empty()) {
            throw AudioCaptureError("There is no default input device");
        }

        SourceLookup source;
        auto* lookup = pa_context_get_source_info_by_name(connection_.context(), name.c_str(), &SourceLookup::receive,
                                                          &source);
        if (!connection_.finish(lookup)) {
            throw AudioCaptureError("Cannot ask the sound server about " + deviceText + ": " + connection_.lastError());
        }
        if (!source.found) {
            throw AudioCaptureError("No input device named \"" + name + "\"");
        }

        const AudioCaptureFormat native {source.nativeFormat.rate, source.nativeFormat.channels};
        const auto format = request.formatFor(native);
        const auto framesPerBlock = request.blockFramesFor(format.sampleRate);
        worker_ = std::make_unique<AudioCaptureWorker>(format, framesPerBlock,
                                                       std::size_t {format.sampleRate} * maxPendingSeconds,
                                                       std::move(onBlock), std::move(onFailure));

        const pa_sample_spec streamFormat {PA_SAMPLE_FLOAT32NE, format.sampleRate, static_cast<std::uint8_t>(format.channelCount)};
        pa_channel_map map;
        if (format.channelCount == native.channelCount && pa_channel_map_valid(&source.map)) {
            map = source.map;
        } else {
            pa_channel_map_init_extend(&map, format.channelCount, PA_CHANNEL_MAP_DEFAULT);
        }
        stream_ = pa_stream_new(connection_.context(), "Capture", &streamFormat, &map);
        if (!stream_) {
            throw AudioCaptureError("Cannot open " + deviceText + ": " + PulseConnection::contextError(connection_.context()));
        }
        pa_stream_set_state_callback(stream_, &Session::onStreamState, this);
        pa_stream_set_read_callback(stream_, &Session::onStreamRead, this);
        connection_.setLostHandler([this](const std::string& reason) {
            if (!closing_) {
                worker_->fail("The connection to the sound server was lost: " + reason);
            }
        });

        pa_buffer_attr attributes;
        attributes.maxlength = std::numeric_limits<std::uint32_t>::max();
        attributes.tlength = std::numeric_limits<std::uint32_t>::max();
        attributes.prebuf = std::numeric_limits<std::uint32_t>::max();
        attributes.minreq = std::numeric_limits<std::uint32_t>::max();
        attributes.fragsize = static_cast<std::uint32_t>(
            std::min<std::size_t>(framesPerBlock * sizeof(float) * format.channelCount,
                                  std::numeric_limits<std::uint32_t>::max() - 1));
        // A chosen device is kept: when it goes away the stream fails instead of moving elsewhere.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | (request.deviceName ? PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS));
        if (pa_stream_connect_record(stream_, request.deviceName ? name.c_str() : nullptr, &attributes, flags) < 0) {
            throw AudioCaptureError("Cannot open " + deviceText + ": " + PulseConnection::contextError(connection_.context()));
        }
        const bool settled = connection_.waitUntil([&] {
            const auto state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
            throw AudioCaptureError("Cannot open " + deviceText + ": "
                                    + (settled ? PulseConnection::contextError(connection_.context()) : std::string("timed out")));
        }
    }

    void close()
    {
        if (worker_) {
            worker_->stop();
        }
        MainloopLock lock(connection_.loop());
        closing_ = true;
        connection_.setLostHandler({});
        PulseConnection::closeStream(stream_);
    }

    static void onStreamState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<Session*>(userdata);
        const auto state = pa_stream_get_state(stream);
        if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && !self->closing_ && self->worker_) {
            auto* context = self->connection_.context();
            self->worker_->fail((PA_CONTEXT_IS_GOOD(pa_context_get_state(context))
                                     ? "The input device stopped: "
                                     : "The connection to the sound server was lost: ")
                                + PulseConnection::contextError(context));
        }
        pa_threaded_mainloop_signal(self->connection_.loop(), 0);
    }

    // On the server's event thread: copy out and nothing more.
    static void onStreamRead(pa_stream* stream, std::size_t, void* userdata)
    {
        auto* self = static_cast<Session*>(userdata);
        for (;;) {
            const void* data = nullptr;
            std::size_t byteCount = 0;
            if (pa_stream_peek(stream, &data, &byteCount) < 0) {
                self->worker_->fail("Reading captured audio failed: " + PulseConnection::contextError(self->connection_.context()));
                return;
            }
            if (byteCount == 0) {
                return;
            }
            if (data) {
                self->worker_->append(data, byteCount);
            } else {
                self->worker_->appendSilence(byteCount); // a hole in the stream
            }
            pa_stream_drop(stream);
        }
    }

    PulseConnection connection_;
    std::unique_ptr<AudioCaptureWorker> worker_;
    pa_stream* stream_ = nullptr;
    bool closing_ = false; // guarded by the event loop's lock
};

PulseAudioCapture::PulseAudioCapture(PulseAudioCaptureOptions options)
    : options_(std::move(options))
{
}

PulseAudioCapture::~PulseAudioCapture()
{
    stop();
}

std::vector<AudioInputDevice> PulseAudioCapture::inputDevices()
{
    try {
        PulseConnection connection(options_);
        MainloopLock lock(connection.loop());
        const auto defaultName = defaultSourceName(connection);

        std::vector<AudioInputDevice> devices;
        auto* operation = pa_context_get_source_info_list(
            connection.context(),
            [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                if (eol != 0 || !info || !info->name || info->monitor_of_sink != PA_INVALID_INDEX) {
                    return;
                }
                AudioInputDevice device;
                device.id = info->index;
                device.name = PulseConnection::serverText(info->name);
                device.description = PulseConnection::serverText(info->description);
                if (device.description.empty()) {
                    device.description = device.name;
                }
                device.nativeFormat = {info->sample_spec.rate, info->sample_spec.channels};
                static_cast<std::vector<AudioInputDevice>*>(userdata)->push_back(std::move(device));
            },
            &devices);
        if (!connection.finish(operation)) {
            return {};
        }
        for (auto& device : devices) {
            device.isDefault = device.name == defaultName;
        }
        return devices;
    } catch (const AudioCaptureError&) {
        return {};
    } catch (const SoundServerError&) {
        return {};
    }
}

AudioCaptureFormat PulseAudioCapture::start(const AudioCaptureRequest& request, BlockCallback onBlock,
                                            FailureCallback onFailure)
{
    request.validate();
    stop();
    auto session = std::make_unique<Session>(options_, request, std::move(onBlock), std::move(onFailure));
    const auto format = session->format();
    {
        std::lock_guard lock(mutex_);
        std::swap(session_, session);
    }
    // Outside the lock: a start that raced in from another thread is stopped here.
    session.reset();
    return format;
}

void PulseAudioCapture::pause()
{
    std::lock_guard lock(mutex_);
    if (session_) {
        session_->setPaused(true);
    }
}

void PulseAudioCapture::resume()
{
    std::lock_guard lock(mutex_);
    if (!session_ || !session_->isRunning()) {
        throw AudioCaptureError("There is no capture stream to resume");
    }
    session_->setPaused(false);
}

void PulseAudioCapture::stop()
{
    std::unique_ptr<Session> session;
    {
        std::lock_guard lock(mutex_);
        session = std::move(session_);
    }
    // Outside the lock: stopping waits for a running callback, which may call back into this source.
    session.reset();
}

bool PulseAudioCapture::isCapturing() const
{
    std::lock_guard lock(mutex_);
    return session_ && session_->isRunning();
}

} // namespace platform
