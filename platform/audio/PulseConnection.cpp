#include "platform/audio/PulseConnection.hpp"

#include <optional>

namespace platform {

namespace {

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

} // namespace

PulseConnection::PulseConnection(const SoundServerOptions& options)
    : timeout_(options.timeout)
{
    if (options.timeout.count() <= 0) {
        throw SoundServerError("The sound server timeout must be positive");
    }
    try {
        open(options);
    } catch (...) {
        close();
        throw;
    }
}

PulseConnection::~PulseConnection()
{
    close();
}

std::string PulseConnection::contextError(pa_context* context)
{
    return pa_strerror(pa_context_errno(context));
}

std::string PulseConnection::serverText(const char* text)
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

void PulseConnection::closeStream(pa_stream*& stream)
{
    if (!stream) {
        return;
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        pa_stream_disconnect(stream);
    }
    pa_stream_unref(stream);
    stream = nullptr;
}

void PulseConnection::signalLoop(pa_operation*, void* userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

bool PulseConnection::waitUntil(const std::function<bool()>& done)
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

bool PulseConnection::finish(pa_operation* operation)
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

std::string PulseConnection::lastError() const
{
    return timedOut_ ? "timed out" : contextError(context_);
}

void PulseConnection::onContextState(pa_context* context, void* userdata)
{
    auto* self = static_cast<PulseConnection*>(userdata);
    const auto state = pa_context_get_state(context);
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && self->onLost_) {
        self->onLost_(contextError(context));
    }
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseConnection::open(const SoundServerOptions& options)
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        throw SoundServerError("Cannot connect to the sound server: out of memory");
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), options.applicationName.c_str());
    if (!context_) {
        throw SoundServerError("Cannot connect to the sound server: out of memory");
    }
    pa_context_set_state_callback(context_, &onContextState, this);
    const char* server = options.server ? options.server->c_str() : nullptr;
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        throw SoundServerError("Cannot connect to the sound server: " + contextError(context_));
    }
    if (pa_threaded_mainloop_start(loop_) < 0) {
        throw SoundServerError("Cannot connect to the sound server: the event thread did not start");
    }
    running_ = true;
    MainloopLock lock(loop_);
    const bool settled = waitUntil([&] {
        const auto state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        throw SoundServerError("Cannot connect to the sound server: "
                               + (settled ? contextError(context_) : std::string("timed out")));
    }
}

void PulseConnection::close()
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

} // namespace platform
