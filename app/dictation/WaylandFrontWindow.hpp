#pragma once

#include "platform/input/ActiveWindow.hpp"

namespace parlino {

// The window in front as a Wayland client may know it: only whether it is one of this program's
// own. Any other is "another window had the focus", which no client may bring forward: it is in
// front exactly when ours is not.
class WaylandFrontWindow {
public:
    static constexpr platform::input::WindowId anotherWindow = 1;
    static constexpr platform::input::WindowId ownWindow = 2;

    // Ours (with this process's id) while a window of this program has the focus.
    static platform::input::FrontWindow current();
    // True for another window: it needs no bringing forward.
    static bool activate(platform::input::WindowId window) { return window == anotherWindow; }
};

} // namespace parlino
