#include "platform/input/XConnection.hpp"

#include "platform/input/InputError.hpp"

#include <X11/Xlib.h>

#include <cstdlib>
#include <mutex>

namespace platform::input {

namespace {

// Xlib's stock handler for a lost connection ends the process. This one returns, so that each
// connection's exit handler decides; connections of others keep the stock exit handler, which
// still ends the process for them.
int returnFromConnectionLoss(Display*)
{
    return 0;
}

} // namespace

std::optional<std::string> XConnection::resolveName(const std::string& displayName)
{
    if (!displayName.empty()) {
        return displayName;
    }
    const char* environment = std::getenv("DISPLAY");
    if (environment && *environment) {
        return std::string(environment);
    }
    return std::nullopt;
}

XConnection::XConnection(const std::string& displayName)
{
    const auto resolved = resolveName(displayName);
    if (!resolved) {
        throw InputError("no X display: DISPLAY is not set");
    }
    name_ = *resolved;
    display_ = XOpenDisplay(name_.c_str());
    if (!display_) {
        throw InputError("cannot open the X display \"" + name_ + "\"");
    }
    XSetIOErrorExitHandler(display_, &XConnection::onConnectionLost, this);
    static std::once_flag installed;
    std::call_once(installed, [] { XSetIOErrorHandler(&returnFromConnectionLoss); });
}

XConnection::~XConnection()
{
    if (display_) {
        XCloseDisplay(display_);
    }
}

int XConnection::fd() const
{
    return ConnectionNumber(display_);
}

void XConnection::onConnectionLost(_XDisplay*, void* self)
{
    // Returning keeps the process alive; Xlib leaves the connection dead.
    static_cast<XConnection*>(self)->broken_ = true;
}

} // namespace platform::input
