#pragma once

#include "platform/input/XEventSource.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::input {

class XConnection;

using WindowId = std::uint32_t;

struct FrontWindow {
    WindowId window = 0;
    std::optional<int> pid;          // its _NET_WM_PID, when the program set one
};

// The window in front as the window manager reports it (_NET_ACTIVE_WINDOW), and bringing a window
// forward the way a pager or task bar does. Needs an EWMH window manager. Single-threaded.
class ActiveWindow final : public XEventSource {
public:
    using ChangeHandler = std::function<void()>;

    // `onChange` runs from dispatch() whenever the window manager names a new active window.
    // Throws InputError when the display cannot be opened.
    explicit ActiveWindow(const std::string& displayName, ChangeHandler onChange = {});
    ~ActiveWindow() override;
    ActiveWindow(const ActiveWindow&) = delete;
    ActiveWindow& operator=(const ActiveWindow&) = delete;

    // Nothing when no window is active, no window manager says so, or the window is gone.
    std::optional<FrontWindow> frontmost() const;
    std::optional<int> pidOf(WindowId window) const;
    // Asks the window manager to activate `window` (a _NET_ACTIVE_WINDOW request from a pager, so no
    // focus-stealing rule holds it back). False when the window no longer exists. Whether it came to
    // the front shows later in frontmost() and through the change handler.
    bool activate(WindowId window);

    int fd() const override;
    void dispatch() override;
    bool hasQueuedEvents() const override;

private:
    std::optional<std::uint32_t> cardinalProperty(WindowId window, unsigned long property, unsigned long type) const;

    std::unique_ptr<XConnection> connection_;
    ChangeHandler onChange_;
    unsigned long activeAtom_ = 0;
    unsigned long pidAtom_ = 0;
};

} // namespace platform::input
