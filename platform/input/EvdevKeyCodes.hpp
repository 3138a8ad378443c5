#pragma once

#include "platform/input/Keys.hpp"

#include <optional>

namespace platform::input {

// Between X11 keysyms and the kernel's key codes (linux/input-event-codes.h) as they sit on a US
// keyboard: the evdev backends know no layout, only where a key is.
class EvdevKeyCodes {
public:
    // Shifted letters give their key's code too; nothing for keysyms with no key of their own.
    static std::optional<unsigned> codeForKeysym(Keysym keysym);
    // The X modifier bit a held key adds (Shift, Control, Alt as Mod1, Super as Mod4); 0 for others.
    static unsigned modifierOf(unsigned code);
};

} // namespace platform::input
