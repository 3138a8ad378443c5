#include "platform/audio/PulseAudioCapture.hpp"

#include "platform/audio/AudioCaptureError.hpp"
#include "platform/audio/AudioCaptureWorker.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>

namespace platform {

namespace {

std::string contextError(pa_context* context)
{
    return pa_strerror(pa_context_errno(context));
}

// Text from the server, made valid UTF-8.
std::string serverText(const char* text)
{
    if (!text) {
        return {};
    }
    if (pa_utf8_valid(text)) {
        return text;
    }
    char* filtered = pa_utf8_filter(text);
    std::string result = filtered ? filtered : "";
    pa_xfree(filtered);
    return result;
}

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* loop)
        : loop_(loop)
    {
        pa_threaded_mainloop_lock(loop_);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(loop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// A connected context with its own event thread. Every wait for the server is bounded.
class PulseConnection {
public:
    explicit PulseConnection(const PulseAudioCaptureOptions& options)
        : timeout_(options.timeout)
    {
        if (options.timeout.count() <= 0) {
            throw AudioCaptureError("The sound server timeout must be positive");
        }
        try {
            open(options);
        } catch (...) {
            close();
            throw;
        }
    }

    ~PulseConnection() { close(); }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // Called on the event thread, loop locked, when the connection breaks.
    void setLostHandler(std::function<void(const std::string&)> handler) { onLost_ = std::move(handler); }

    // With the loop locked: waits until `done` holds or the timeout passes; returns `done()`.
    bool waitUntil(const std::function<bool()>& done)
    {
        if (done()) {
            return true;
        }
        Timer timer {loop_};
        const auto microseconds = static_cast<pa_usec_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(timeout_).count());
        pa_time_event* event = pa_context_rttime_new(context_, pa_rtclock_now() + microseconds, &Timer::fire, &timer);
        if (!event) {
            return false;
        }
        while (!done() && !timer.expired) {
            pa_threaded_mainloop_wait(loop_);
        }
        pa_threaded_mainloop_get_api(loop_)->time_free(event);
        return done();
    }

    // With the loop locked: runs an operation to its end; false when it failed or timed out.
    bool finish(pa_operation* operation)
    {
        if (!operation) {
            return false;
        }
        pa_operation_set_state_callback(operation, &signalLoop, loop_);
        const bool ended = waitUntil([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        timedOut_ = !ended;
        if (!ended) {
            pa_operation_cancel(operation);
        }
        const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
        pa_operation_set_state_callback(operation, nullptr, nullptr);
        pa_operation_unref(operation);
        return done;
    }

    std::string lastError() const { return timedOut_ ? "timed out" : contextError(context_); }

private:
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;

        static void fire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
        {
            auto* timer = static_cast<Timer*>(userdata);
            timer->expired = true;
            pa_threaded_mainloop_signal(timer->loop, 0);
        }
    };

    static void signalLoop(pa_operation*, void* userdata)
    {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
    }

    static void onContextState(pa_context* context, void* userdata)
    {
        auto* self = static_cast<PulseConnection*>(userdata);
        const auto state = pa_context_get_state(context);
        if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && self->onLost_) {
            self->onLost_(contextError(context));
        }
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    void open(const PulseAudioCaptureOptions& options)
    {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) {
            throw AudioCaptureError("Cannot connect to the sound server: out of memory");
        }
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), options.applicationName.c_str());
        if (!context_) {
            throw AudioCaptureError("Cannot connect to the sound server: out of memory");
        }
        pa_context_set_state_callback(context_, &onContextState, this);
        const char* server = options.server ? options.server->c_str() : nullptr;
        if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            throw AudioCaptureError("Cannot connect to the sound server: " + contextError(context_));
        }
        if (pa_threaded_mainloop_start(loop_) < 0) {
            throw AudioCaptureError("Cannot connect to the sound server: the event thread did not start");
        }
        running_ = true;
        MainloopLock lock(loop_);
        const bool settled = waitUntil([&] {
            const auto state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            throw AudioCaptureError("Cannot connect to the sound server: "
                                    + (settled ? contextError(context_) : std::string("timed out")));
        }
    }

    void close()
    {
        if (context_) {
            std::optional<MainloopLock> lock;
            if (running_) {
                lock.emplace(loop_);
            }
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
        if (running_) {
            pa_threaded_mainloop_stop(loop_);
            running_ = false;
        }
        if (context_) {
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    std::chrono::milliseconds timeout_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool running_ = false;
    bool timedOut_ = false;
    std::function<void(const std::string&)> onLost_;
};

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
                *static_cast<std::string*>(userdata) = serverText(info->default_source_name);
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
            FailureCallback onFailure)
        : connection_(options)
    {
        try {
            open(request, std::move(onBlock), std::move(onFailure));
        } catch (...) {
            close();
            throw;
        }
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
            throw AudioCaptureError("Cannot open " + deviceText + ": " + contextError(connection_.context()));
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
            throw AudioCaptureError("Cannot open " + deviceText + ": " + contextError(connection_.context()));
        }
        const bool settled = connection_.waitUntil([&] {
            const auto state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
            throw AudioCaptureError("Cannot open " + deviceText + ": "
                                    + (settled ? contextError(connection_.context()) : std::string("timed out")));
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
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
                pa_stream_disconnect(stream_);
            }
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
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
                                + contextError(context));
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
                self->worker_->fail("Reading captured audio failed: " + contextError(self->connection_.context()));
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
                device.name = serverText(info->name);
                device.description = serverText(info->description);
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
