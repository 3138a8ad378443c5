#include "platform/input/ActiveWindow.hpp"

#include "platform/input/ErrorTrap.hpp"
#include "platform/input/XConnection.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstring>

namespace platform::input {

namespace {
// Source indication of a _NET_ACTIVE_WINDOW request: a pager, i.e. the user's own choice.
constexpr long fromPager = 2;
} // namespace

ActiveWindow::ActiveWindow(const std::string& displayName, ChangeHandler onChange)
    : connection_(std::make_unique<XConnection>(displayName))
    , onChange_(std::move(onChange))
{
    auto* display = connection_->display();
    activeAtom_ = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    pidAtom_ = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    XFlush(display);
}

ActiveWindow::~ActiveWindow() = default;

std::optional<std::uint32_t> ActiveWindow::cardinalProperty(WindowId window, unsigned long property, unsigned long type) const
{
    auto* display = connection_->display();
    if (connection_->isBroken()) {
        return std::nullopt;
    }
    ErrorTrap trap(display);
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType, &format, &count,
                                          &after, &data);
    std::optional<std::uint32_t> value;
    // Xlib hands 32-bit properties back as longs.
    if (status == Success && data && actualType == type && format == 32 && count == 1) {
        long item = 0;
        std::memcpy(&item, data, sizeof item);
        value = static_cast<std::uint32_t>(item);
    }
    if (data) {
        XFree(data);
    }
    if (trap.sync()) {
        return std::nullopt;
    }
    return value;
}

std::optional<FrontWindow> ActiveWindow::frontmost() const
{
    const auto window = cardinalProperty(DefaultRootWindow(connection_->display()), activeAtom_, XA_WINDOW);
    if (!window || *window == 0) {
        return std::nullopt;
    }
    XWindowAttributes attributes;
    {
        ErrorTrap trap(connection_->display());
        const bool exists = XGetWindowAttributes(connection_->display(), *window, &attributes) != 0;
        if (trap.sync() || !exists) {
            return std::nullopt;
        }
    }
    return FrontWindow {*window, pidOf(*window)};
}

std::optional<int> ActiveWindow::pidOf(WindowId window) const
{
    const auto pid = cardinalProperty(window, pidAtom_, XA_CARDINAL);
    if (!pid || *pid == 0 || *pid > 0x7fffffffu) {
        return std::nullopt;
    }
    return static_cast<int>(*pid);
}

bool ActiveWindow::activate(WindowId window)
{
    auto* display = connection_->display();
    if (connection_->isBroken() || window == 0) {
        return false;
    }
    ErrorTrap trap(display);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || trap.sync()) {
        return false;
    }
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = activeAtom_;
    event.xclient.format = 32;
    event.xclient.data.l[0] = fromPager;
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = 0;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    return !trap.sync() && !connection_->isBroken();
}

int ActiveWindow::fd() const
{
    return connection_->fd();
}

bool ActiveWindow::hasQueuedEvents() const
{
    return !connection_->isBroken() && XEventsQueued(connection_->display(), QueuedAlready) > 0;
}

void ActiveWindow::dispatch()
{
    auto* display = connection_->display();
    bool changed = false;
    while (!connection_->isBroken() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify && event.xproperty.atom == activeAtom_) {
            changed = true;
        }
    }
    if (changed && onChange_) {
        onChange_();
    }
}

} // namespace platform::input
