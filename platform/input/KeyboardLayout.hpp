#pragma once

#include "platform/input/Keys.hpp"

#include <vector>

struct _XDisplay;

namespace platform::input {

// The server's current keyboard mapping, read afresh on every call (Xlib's own copy goes stale until
// its connection reads a MappingNotify).
class KeyboardLayout {
public:
    // Keycodes whose unshifted symbol is `keysym`, lowest first; empty when the layout lacks it.
    static std::vector<unsigned> keycodesFor(_XDisplay* display, Keysym keysym);

    // The modifier bit that a key with `keysym` sets (Num Lock's is usually Mod2); 0 when none does.
    static unsigned modifierMaskFor(_XDisplay* display, Keysym keysym);
};

} // namespace platform::input
