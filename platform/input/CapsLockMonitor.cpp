#include "platform/input/CapsLockMonitor.hpp"

#include "platform/input/InputError.hpp"
#include "platform/input/XConnection.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstring>

namespace platform::input {

CapsLockMonitor::CapsLockMonitor(const std::string& displayName, ChangeHandler onChange)
    : connection_(std::make_unique<XConnection>(displayName))
    , onChange_(std::move(onChange))
{
    auto* display = connection_->display();
    int opcode = 0;
    int error = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkbEventBase_, &error, &major, &minor)) {
        throw InputError("the X server has no XKEYBOARD extension");
    }
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask, XkbModifierLockMask);
    XkbStateRec state {};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) {
        throw InputError("cannot read the keyboard state");
    }
    isOn_ = (state.locked_mods & LockMask) != 0;
    // Changes read off the socket behind the reply are newer than it; nobody has seen the state yet.
    readEvents(false);
}

CapsLockMonitor::~CapsLockMonitor() = default;

int CapsLockMonitor::fd() const
{
    return connection_->fd();
}

void CapsLockMonitor::dispatch()
{
    readEvents(true);
}

bool CapsLockMonitor::hasQueuedEvents() const
{
    return !connection_->isBroken() && XEventsQueued(connection_->display(), QueuedAlready) > 0;
}

void CapsLockMonitor::readEvents(bool notify)
{
    auto* display = connection_->display();
    while (!connection_->isBroken() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != xkbEventBase_) {
            continue;
        }
        XkbEvent xkb {};
        std::memcpy(&xkb, &event, sizeof event);
        if (xkb.any.xkb_type != XkbStateNotify) {
            continue;
        }
        const bool on = (xkb.state.locked_mods & LockMask) != 0;
        if (on != isOn_) {
            isOn_ = on;
            if (notify && onChange_) {
                onChange_(on);
            }
        }
    }
}

} // namespace platform::input
