#include "platform/input/XConnection.hpp"

#include "platform/input/InputError.hpp"

#include <X11/Xlib.h>

#include <cstdlib>

namespace platform::input {

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
