#pragma once

#include "platform/input/Keys.hpp"

#include <functional>

namespace parlino {

// One system-wide hotkey on the desktop. Main thread only.
class HotkeyInput {
public:
    virtual ~HotkeyInput() = default;

    // Takes the combination in place of the current one, all or nothing: when it is refused the
    // former one stays taken and std::exception says why.
    virtual void grab(platform::input::Keysym keysym, unsigned xModifiers) = 0;
    // Lets the combination go; nothing when none is taken.
    virtual void ungrab() = 0;
    // Runs for each press of the combination, from the desktop's event dispatch.
    virtual void setOnPressed(std::function<void()> onPressed) = 0;
};

} // namespace parlino
