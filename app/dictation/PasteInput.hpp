#pragma once

#include "platform/input/ActiveWindow.hpp"

#include <optional>

namespace parlino {

// What pasting needs of the desktop: the window in front, bringing one forward, the user's held
// modifiers and the synthetic Ctrl+V and Return. Main thread only.
class PasteInput {
public:
    virtual ~PasteInput() = default;

    virtual std::optional<platform::input::FrontWindow> frontmost() = 0;
    // False when the window is gone.
    virtual bool activate(platform::input::WindowId window) = 0;
    // The modifier keys the user holds now, as an X modifier mask.
    virtual unsigned heldModifiers() = 0;
    // Throw std::exception when the keys cannot be typed.
    virtual void postPaste() = 0;
    virtual void postReturn() = 0;
};

} // namespace parlino
