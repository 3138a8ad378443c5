#pragma once

#include "app/dictation/PasteInput.hpp"

#include <memory>
#include <string>

namespace platform::input {
class KeySynthesizer;
}

namespace parlino {

class XEventNotifier;

// Pasting on an X11 display: the front window through the window manager, Ctrl+V and Return
// through XTEST. Connections open on first use; a display that cannot be reached shows no window
// in front and refuses every keystroke.
class X11PasteInput final : public PasteInput {
public:
    // `displayName` empty: $DISPLAY.
    explicit X11PasteInput(std::string displayName = {});
    ~X11PasteInput() override;

    std::optional<platform::input::FrontWindow> frontmost() override;
    bool activate(platform::input::WindowId window) override;
    unsigned heldModifiers() override;
    void postPaste() override;
    void postReturn() override;

private:
    platform::input::ActiveWindow* activeWindow();
    platform::input::KeySynthesizer& synthesizer();

    std::string displayName_;
    std::unique_ptr<platform::input::ActiveWindow> activeWindow_;
    std::unique_ptr<XEventNotifier> activeWindowEvents_;
    std::unique_ptr<platform::input::KeySynthesizer> synthesizer_;
};

} // namespace parlino
