#pragma once

#include "platform/input/XEventSource.hpp"

#include <functional>
#include <memory>
#include <string>

namespace platform::input {

class XConnection;

// Follows the Caps Lock state (the lock, not the key) through XKB state notifications on a connection
// of its own. Single-threaded: call everything on one thread.
class CapsLockMonitor final : public XEventSource {
public:
    using ChangeHandler = std::function<void(bool isOn)>;

    // Reads the state at once; `onChange` runs from dispatch() each time it flips.
    // Throws InputError when the display cannot be opened or has no XKB.
    CapsLockMonitor(const std::string& displayName, ChangeHandler onChange);
    ~CapsLockMonitor() override;
    CapsLockMonitor(const CapsLockMonitor&) = delete;
    CapsLockMonitor& operator=(const CapsLockMonitor&) = delete;

    bool isOn() const { return isOn_; }
    int fd() const override;
    void dispatch() override;
    bool hasQueuedEvents() const override;

private:
    void readEvents(bool notify);

    std::unique_ptr<XConnection> connection_;
    ChangeHandler onChange_;
    int xkbEventBase_ = 0;
    bool isOn_ = false;
};

} // namespace platform::input
