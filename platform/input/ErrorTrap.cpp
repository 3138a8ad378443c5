#include "platform/input/ErrorTrap.hpp"

#include <X11/Xlib.h>

namespace platform::input {

namespace {
// Xlib's error handler is one plain function for the whole process; it finds the innermost trap here.
thread_local ErrorTrap* innermost = nullptr;
} // namespace

struct ErrorTrapHandler {
    static int handle(Display* display, XErrorEvent* event)
    {
        for (auto* trap = innermost; trap; trap = trap->outer_) {
            if (trap->display_ != display) {
                continue;
            }
            if (!trap->first_) {
                char text[256] = {};
                XGetErrorText(display, event->error_code, text, sizeof text);
                trap->first_ = ErrorTrap::Error {event->error_code, event->request_code, text};
            }
            return 0;
        }
        // Not ours: the outermost trap remembers what was installed before any of them.
        auto* outermost = innermost;
        while (outermost && outermost->outer_) {
            outermost = outermost->outer_;
        }
        const auto previous = outermost ? reinterpret_cast<XErrorHandler>(outermost->previous_) : nullptr;
        return previous ? previous(display, event) : 0;
    }
};

ErrorTrap::ErrorTrap(_XDisplay* display)
    : display_(display)
    , outer_(innermost)
{
    // Requests sent before the trap must not report into it.
    XSync(display_, False);
    previous_ = reinterpret_cast<void*>(XSetErrorHandler(&ErrorTrapHandler::handle));
    innermost = this;
}

ErrorTrap::~ErrorTrap()
{
    XSync(display_, False);
    innermost = outer_;
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous_));
}

std::optional<ErrorTrap::Error> ErrorTrap::sync()
{
    XSync(display_, False);
    auto error = std::move(first_);
    first_.reset();
    return error;
}

} // namespace platform::input
