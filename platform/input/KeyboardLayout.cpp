#include "platform/input/KeyboardLayout.hpp"

#include <X11/Xlib.h>

#include <algorithm>

namespace platform::input {

std::vector<unsigned> KeyboardLayout::keycodesFor(_XDisplay* display, Keysym keysym)
{
    int minimum = 0;
    int maximum = 0;
    XDisplayKeycodes(display, &minimum, &maximum);
    int perKeycode = 0;
    KeySym* table = XGetKeyboardMapping(display, static_cast<KeyCode>(minimum), maximum - minimum + 1, &perKeycode);
    std::vector<unsigned> found;
    if (!table) {
        return found;
    }
    for (int code = minimum; code <= maximum && perKeycode > 0; ++code) {
        if (table[(code - minimum) * perKeycode] == keysym) {
            found.push_back(static_cast<unsigned>(code));
        }
    }
    XFree(table);
    return found;
}

unsigned KeyboardLayout::modifierMaskFor(_XDisplay* display, Keysym keysym)
{
    const auto keycodes = keycodesFor(display, keysym);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) {
        return 0;
    }
    unsigned mask = 0;
    for (int index = 0; index < 8; ++index) {
        for (int slot = 0; slot < map->max_keypermod; ++slot) {
            const unsigned code = map->modifiermap[index * map->max_keypermod + slot];
            if (code != 0 && std::find(keycodes.begin(), keycodes.end(), code) != keycodes.end()) {
                mask |= 1u << index;
            }
        }
    }
    XFreeModifiermap(map);
    return mask;
}

} // namespace platform::input
