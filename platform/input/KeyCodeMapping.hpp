#pragma once

#include "platform/input/Keys.hpp"

#include <cstdint>
#include <optional>

namespace platform::input {

// Modifier flags as the hotkey settings store them (the original platform's event flag layout).
namespace modifierFlag {
constexpr std::uint32_t capsLock = 0x10000;
constexpr std::uint32_t shift = 0x20000;
constexpr std::uint32_t control = 0x40000;
constexpr std::uint32_t option = 0x80000;
constexpr std::uint32_t command = 0x100000;
constexpr std::uint32_t numericPad = 0x200000;
constexpr std::uint32_t help = 0x400000;
constexpr std::uint32_t function = 0x800000;
} // namespace modifierFlag

// The one table between the stored hotkey values (virtual key codes of the original platform's ANSI
// keyboard and its modifier flags) and X11: Command is Super (Mod4), Option is Alt (Mod1; AltGr, Mod5,
// reads as Option too), Control is Control.
class KeyCodeMapping {
public:
    // The unshifted keysym of a virtual key code (9 -> v, 49 -> space, 60 -> Shift_R); nothing for
    // codes with no key on a PC keyboard.
    static std::optional<Keysym> keysymForKeyCode(std::uint16_t keyCode);
    // The reverse; shifted letters (V) give the code of their key too.
    static std::optional<std::uint16_t> keyCodeForKeysym(Keysym keysym);

    // Stored flags -> X modifier mask. Bits without an X modifier (function, numeric pad, help) are dropped.
    static unsigned xModifiers(std::uint32_t flags);
    // X modifier state -> stored flags (Num Lock and the unassigned Mod3 are dropped).
    static std::uint32_t modifierFlags(unsigned xState);
};

} // namespace platform::input
