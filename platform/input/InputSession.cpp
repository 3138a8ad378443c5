#include "platform/input/InputSession.hpp"

#include "platform/input/InputError.hpp"
#include "platform/input/XConnection.hpp"

#include <X11/Xlib.h>

#include <cstdlib>
#include <string_view>

namespace platform::input {

namespace {

bool isWaylandSession()
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (wayland && *wayland) || (type && std::string_view(type) == "wayland");
}

bool hasExtension(Display* display, const char* name)
{
    int opcode = 0;
    int event = 0;
    int error = 0;
    return XQueryExtension(display, name, &opcode, &event, &error) == True;
}

} // namespace

InputSession::InputSession(const std::string& displayName)
{
    const auto resolved = XConnection::resolveName(displayName);
    if (!resolved) {
        // Under Wayland without Xwayland there is no X display to fall back on.
        missing_.push_back(isWaylandSession() ? "a Wayland session without an X display" : "no X display (DISPLAY is not set)");
        return;
    }
    displayName_ = *resolved;
    try {
        connection_ = std::make_unique<XConnection>(displayName_);
    } catch (const InputError& error) {
        missing_.push_back(error.what());
        return;
    }
    // Xwayland is an X server, but it sees only the keys of its own windows.
    if (isWaylandSession()) {
        missing_.push_back("a Wayland session: other programs' keys cannot be watched");
    }
    if (!hasExtension(connection_->display(), "RECORD")) {
        missing_.push_back("the X server has no RECORD extension");
    }
    if (!hasExtension(connection_->display(), "XTEST")) {
        missing_.push_back("the X server has no XTEST extension");
    }
}

InputSession::~InputSession() = default;

std::string InputSession::missingText() const
{
    std::string text;
    for (const auto& reason : missing_) {
        text += (text.empty() ? "" : "; ") + reason;
    }
    return text;
}

} // namespace platform::input
