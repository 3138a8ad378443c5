#pragma once

namespace platform::input {

// An input object that receives X events on a connection of its own. Wiring for an event loop:
// call dispatch() when fd() turns readable, and also before the loop sleeps whenever
// hasQueuedEvents() holds, because Xlib may already have read events off the socket while it
// waited for a reply, leaving nothing readable behind them. A handler run by dispatch() must not
// destroy the object that runs it (post that to the event loop instead).
class XEventSource {
public:
    virtual ~XEventSource() = default;

    virtual int fd() const = 0;
    // Handles every event that has arrived, running the object's handlers; never blocks.
    virtual void dispatch() = 0;
    virtual bool hasQueuedEvents() const = 0;
};

} // namespace platform::input
