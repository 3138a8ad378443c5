#pragma once

#include "app/dictation/HotkeyInput.hpp"

#include <memory>
#include <string>

namespace platform::input {
class HotkeyGrabber;
}

namespace parlino {

class XEventNotifier;

// The hotkey as a passive key grab on an X11 display's root window, served from the Qt event loop.
// A display that cannot be reached refuses every grab with the reason.
class X11HotkeyInput final : public HotkeyInput {
public:
    // `displayName` empty: $DISPLAY.
    explicit X11HotkeyInput(std::string displayName = {});
    ~X11HotkeyInput() override;

    void grab(platform::input::Keysym keysym, unsigned xModifiers) override;
    void ungrab() override;
    void setOnPressed(std::function<void()> onPressed) override { onPressed_ = std::move(onPressed); }

private:
    platform::input::HotkeyGrabber& grabber();

    std::string displayName_;
    std::function<void()> onPressed_;
    std::unique_ptr<platform::input::HotkeyGrabber> grabber_;
    std::unique_ptr<XEventNotifier> events_;
};

} // namespace parlino
