#include "platform/input/EvdevKeyCodes.hpp"

#include <linux/input-event-codes.h>

#include <utility>

namespace platform::input {

namespace {

constexpr std::pair<Keysym, unsigned> table[] {
    {'a', KEY_A}, {'b', KEY_B}, {'c', KEY_C}, {'d', KEY_D}, {'e', KEY_E}, {'f', KEY_F}, {'g', KEY_G},
    {'h', KEY_H}, {'i', KEY_I}, {'j', KEY_J}, {'k', KEY_K}, {'l', KEY_L}, {'m', KEY_M}, {'n', KEY_N},
    {'o', KEY_O}, {'p', KEY_P}, {'q', KEY_Q}, {'r', KEY_R}, {'s', KEY_S}, {'t', KEY_T}, {'u', KEY_U},
    {'v', KEY_V}, {'w', KEY_W}, {'x', KEY_X}, {'y', KEY_Y}, {'z', KEY_Z},
    {'1', KEY_1}, {'2', KEY_2}, {'3', KEY_3}, {'4', KEY_4}, {'5', KEY_5}, {'6', KEY_6}, {'7', KEY_7},
    {'8', KEY_8}, {'9', KEY_9}, {'0', KEY_0},
    {'-', KEY_MINUS}, {'=', KEY_EQUAL}, {'[', KEY_LEFTBRACE}, {']', KEY_RIGHTBRACE}, {';', KEY_SEMICOLON},
    {'\'', KEY_APOSTROPHE}, {'`', KEY_GRAVE}, {'\\', KEY_BACKSLASH}, {',', KEY_COMMA}, {'.', KEY_DOT},
    {'/', KEY_SLASH}, {' ', KEY_SPACE}, {0x00a7 /* section */, KEY_102ND},
    {0xff0d, KEY_ENTER}, {0xff09, KEY_TAB}, {0xff08, KEY_BACKSPACE}, {0xff1b, KEY_ESC}, {0xffff, KEY_DELETE},
    {0xff50, KEY_HOME}, {0xff57, KEY_END}, {0xff55, KEY_PAGEUP}, {0xff56, KEY_PAGEDOWN},
    {0xff51, KEY_LEFT}, {0xff52, KEY_UP}, {0xff53, KEY_RIGHT}, {0xff54, KEY_DOWN}, {0xff6a, KEY_HELP},
    {0xffbe, KEY_F1}, {0xffbf, KEY_F2}, {0xffc0, KEY_F3}, {0xffc1, KEY_F4}, {0xffc2, KEY_F5}, {0xffc3, KEY_F6},
    {0xffc4, KEY_F7}, {0xffc5, KEY_F8}, {0xffc6, KEY_F9}, {0xffc7, KEY_F10}, {0xffc8, KEY_F11},
    {0xffc9, KEY_F12}, {0xffca, KEY_F13}, {0xffcb, KEY_F14}, {0xffcc, KEY_F15}, {0xffcd, KEY_F16},
    {0xffce, KEY_F17}, {0xffcf, KEY_F18}, {0xffd0, KEY_F19}, {0xffd1, KEY_F20},
    {0xff7f, KEY_NUMLOCK}, {0xffaa, KEY_KPASTERISK}, {0xffab, KEY_KPPLUS}, {0xffad, KEY_KPMINUS},
    {0xffae, KEY_KPDOT}, {0xffaf, KEY_KPSLASH}, {0xff8d, KEY_KPENTER}, {0xffbd, KEY_KPEQUAL},
    {0xffb0, KEY_KP0}, {0xffb1, KEY_KP1}, {0xffb2, KEY_KP2}, {0xffb3, KEY_KP3}, {0xffb4, KEY_KP4},
    {0xffb5, KEY_KP5}, {0xffb6, KEY_KP6}, {0xffb7, KEY_KP7}, {0xffb8, KEY_KP8}, {0xffb9, KEY_KP9},
    {0x1008ff13, KEY_VOLUMEUP}, {0x1008ff11, KEY_VOLUMEDOWN}, {0x1008ff12, KEY_MUTE},
    {keysym::shiftLeft, KEY_LEFTSHIFT}, {keysym::shiftRight, KEY_RIGHTSHIFT},
    {keysym::controlLeft, KEY_LEFTCTRL}, {keysym::controlRight, KEY_RIGHTCTRL},
    {keysym::altLeft, KEY_LEFTALT}, {keysym::altRight, KEY_RIGHTALT},
    {keysym::superLeft, KEY_LEFTMETA}, {keysym::superRight, KEY_RIGHTMETA}, {keysym::capsLock, KEY_CAPSLOCK},
};

} // namespace

std::optional<unsigned> EvdevKeyCodes::codeForKeysym(Keysym keysym)
{
    if (keysym >= 'A' && keysym <= 'Z') {
        keysym += 'a' - 'A';
    }
    for (const auto& [entry, code] : table) {
        if (entry == keysym) {
            return code;
        }
    }
    return std::nullopt;
}

unsigned EvdevKeyCodes::modifierOf(unsigned code)
{
    switch (code) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT: return modifier::shift;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL: return modifier::control;
    case KEY_LEFTALT:
    case KEY_RIGHTALT: return modifier::mod1;
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA: return modifier::mod4;
    default: return 0;
    }
}

} // namespace platform::input
