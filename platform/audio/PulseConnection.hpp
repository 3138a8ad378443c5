#pragma once

#include "platform/audio/SoundServerOptions.hpp"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace platform {

// The sound server cannot be reached or does not answer in time.
class SoundServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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

// A connected libpulse context with its own event thread. Every wait for the server is bounded.
// The server is never started on demand. Throws SoundServerError.
class PulseConnection {
public:
    explicit PulseConnection(const SoundServerOptions& options);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // Called on the event thread, loop locked, when the connection breaks.
    void setLostHandler(std::function<void(const std::string&)> handler) { onLost_ = std::move(handler); }

    // With the loop locked: waits until `done` holds or the timeout passes; returns `done()`.
    bool waitUntil(const std::function<bool()>& done);
    // With the loop locked: runs an operation to its end; false when it failed or timed out.
    bool finish(pa_operation* operation);

    std::string lastError() const;

    // The server's last error text.
    static std::string contextError(pa_context* context);
    // Text from the server, made valid UTF-8.
    static std::string serverText(const char* text);
    // With the loop locked: silences the stream's callbacks, disconnects and releases it.
    static void closeStream(pa_stream*& stream);
    // A libpulse callback that wakes whoever waits on the loop passed as its user data.
    static void signalLoop(pa_operation*, void* userdata);

private:
    static void onContextState(pa_context* context, void* userdata);
    void open(const SoundServerOptions& options);
    void close();

    std::chrono::milliseconds timeout_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool running_ = false;
    bool timedOut_ = false;
    std::function<void(const std::string&)> onLost_;
};

} // namespace platform
