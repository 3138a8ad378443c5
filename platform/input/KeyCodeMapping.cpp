#include "platform/input/KeyCodeMapping.hpp"

#include <utility>

namespace platform::input {

namespace {

constexpr std::pair<std::uint16_t, Keysym> table[] {
    {0, 'a'}, {1, 's'}, {2, 'd'}, {3, 'f'}, {4, 'h'}, {5, 'g'}, {6, 'z'}, {7, 'x'}, {8, 'c'}, {9, 'v'},
    {10, 0x00a7 /* section, the ISO key beside 1 */}, {11, 'b'}, {12, 'q'}, {13, 'w'}, {14, 'e'}, {15, 'r'},
    {16, 'y'}, {17, 't'}, {18, '1'}, {19, '2'}, {20, '3'}, {21, '4'}, {22, '6'}, {23, '5'}, {24, '='},
    {25, '9'}, {26, '7'}, {27, '-'}, {28, '8'}, {29, '0'}, {30, ']'}, {31, 'o'}, {32, 'u'}, {33, '['},
    {34, 'i'}, {35, 'p'}, {36, 0xff0d /* Return */}, {37, 'l'}, {38, 'j'}, {39, '\''}, {40, 'k'}, {41, ';'},
    {42, '\\'}, {43, ','}, {44, '/'}, {45, 'n'}, {46, 'm'}, {47, '.'}, {48, 0xff09 /* Tab */},
    {49, ' '}, {50, '`'}, {51, 0xff08 /* BackSpace: the key labelled Delete */}, {53, 0xff1b /* Escape */},
    {54, keysym::superRight}, {55, keysym::superLeft}, {56, keysym::shiftLeft}, {57, keysym::capsLock},
    {58, keysym::altLeft}, {59, keysym::controlLeft}, {60, keysym::shiftRight}, {61, keysym::altRight},
    {62, keysym::controlRight},
    {64, 0xffce /* F17 */}, {65, 0xffae /* KP_Decimal */}, {67, 0xffaa /* KP_Multiply */}, {69, 0xffab /* KP_Add */},
    {71, 0xff7f /* Num_Lock, where PC keypads have Clear */}, {72, 0x1008ff13 /* AudioRaiseVolume */},
    {73, 0x1008ff11 /* AudioLowerVolume */}, {74, 0x1008ff12 /* AudioMute */}, {75, 0xffaf /* KP_Divide */},
    {76, 0xff8d /* KP_Enter */}, {78, 0xffad /* KP_Subtract */}, {79, 0xffcf /* F18 */}, {80, 0xffd0 /* F19 */},
    {81, 0xffbd /* KP_Equal */}, {82, 0xffb0}, {83, 0xffb1}, {84, 0xffb2}, {85, 0xffb3}, {86, 0xffb4},
    {87, 0xffb5}, {88, 0xffb6}, {89, 0xffb7}, {90, 0xffd1 /* F20 */}, {91, 0xffb8}, {92, 0xffb9},
    {96, 0xffc2 /* F5 */}, {97, 0xffc3}, {98, 0xffc4}, {99, 0xffc0 /* F3 */}, {100, 0xffc5 /* F8 */},
    {101, 0xffc6}, {103, 0xffc8 /* F11 */}, {105, 0xffca /* F13 */}, {106, 0xffcd /* F16 */},
    {107, 0xffcb /* F14 */}, {109, 0xffc7 /* F10 */}, {111, 0xffc9 /* F12 */}, {113, 0xffcc /* F15 */},
    {114, 0xff6a /* Help */}, {115, 0xff50 /* Home */}, {116, 0xff55 /* Prior */}, {117, 0xffff /* Delete */},
    {118, 0xffc1 /* F4 */}, {119, 0xff57 /* End */}, {120, 0xffbf /* F2 */}, {121, 0xff56 /* Next */},
    {122, 0xffbe /* F1 */}, {123, 0xff51 /* Left */}, {124, 0xff53 /* Right */}, {125, 0xff54 /* Down */},
    {126, 0xff52 /* Up */},
};

constexpr std::pair<std::uint32_t, unsigned> modifierTable[] {
    {modifierFlag::capsLock, modifier::lock},
    {modifierFlag::shift, modifier::shift},
    {modifierFlag::control, modifier::control},
    {modifierFlag::option, modifier::mod1},
    {modifierFlag::command, modifier::mod4},
};

} // namespace

std::optional<Keysym> KeyCodeMapping::keysymForKeyCode(std::uint16_t keyCode)
{
    for (const auto& [code, keysym] : table) {
        if (code == keyCode) {
            return keysym;
        }
    }
    return std::nullopt;
}

std::optional<std::uint16_t> KeyCodeMapping::keyCodeForKeysym(Keysym keysym)
{
    if (keysym >= 'A' && keysym <= 'Z') {
        keysym += 'a' - 'A';
    }
    for (const auto& [code, entry] : table) {
        if (entry == keysym) {
            return code;
        }
    }
    return std::nullopt;
}

unsigned KeyCodeMapping::xModifiers(std::uint32_t flags)
{
    unsigned mask = 0;
    for (const auto& [flag, bit] : modifierTable) {
        if (flags & flag) {
            mask |= bit;
        }
    }
    return mask;
}

std::uint32_t KeyCodeMapping::modifierFlags(unsigned xState)
{
    std::uint32_t flags = 0;
    for (const auto& [flag, bit] : modifierTable) {
        if (xState & bit) {
            flags |= flag;
        }
    }
    if (xState & modifier::mod5) {
        flags |= modifierFlag::option;
    }
    return flags;
}

} // namespace platform::input
