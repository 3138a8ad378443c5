#include "app/dictation/X11HotkeyInput.hpp"

#include "app/dictation/XEventNotifier.hpp"
#include "platform/input/HotkeyGrabber.hpp"

namespace parlino {

X11HotkeyInput::X11HotkeyInput(std::string displayName)
    : displayName_(std::move(displayName))
{
}

X11HotkeyInput::~X11HotkeyInput()
{
    events_.reset();
}

platform::input::HotkeyGrabber& X11HotkeyInput::grabber()
{
    if (!grabber_) {
        grabber_ = std::make_unique<platform::input::HotkeyGrabber>(displayName_, [this] {
            if (onPressed_) {
                onPressed_();
            }
        });
        events_ = std::make_unique<XEventNotifier>(*grabber_);
    }
    return *grabber_;
}

void X11HotkeyInput::grab(platform::input::Keysym keysym, unsigned xModifiers)
{
    grabber().grab({keysym, xModifiers});
}

void X11HotkeyInput::ungrab()
{
    if (grabber_) {
        grabber_->ungrab();
    }
}

} // namespace parlino
