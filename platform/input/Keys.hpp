#pragma once

#include <cstdint>

// X11 keysyms and modifier masks, spelled out so that callers (Qt code among them) never include Xlib,
// whose macros (None, Bool, KeyPress, ...) clash with other libraries.
namespace platform::input {

using Keysym = std::uint32_t;

namespace keysym {
constexpr Keysym shiftLeft = 0xffe1;
constexpr Keysym shiftRight = 0xffe2;
constexpr Keysym controlLeft = 0xffe3;
constexpr Keysym controlRight = 0xffe4;
constexpr Keysym capsLock = 0xffe5;
constexpr Keysym altLeft = 0xffe9;
constexpr Keysym altRight = 0xffea;
constexpr Keysym superLeft = 0xffeb;
constexpr Keysym superRight = 0xffec;
constexpr Keysym altGr = 0xfe03;      // ISO_Level3_Shift
constexpr Keysym numLock = 0xff7f;
constexpr Keysym returnKey = 0xff0d;
constexpr Keysym space = 0x0020;
constexpr Keysym v = 0x0076;
} // namespace keysym

// Core X modifier state bits.
namespace modifier {
constexpr unsigned shift = 1u << 0;
constexpr unsigned lock = 1u << 1;
constexpr unsigned control = 1u << 2;
constexpr unsigned mod1 = 1u << 3;     // Alt
constexpr unsigned mod2 = 1u << 4;     // usually Num Lock
constexpr unsigned mod3 = 1u << 5;
constexpr unsigned mod4 = 1u << 6;     // Super
constexpr unsigned mod5 = 1u << 7;     // usually AltGr
constexpr unsigned all = 0xffu;
} // namespace modifier

} // namespace platform::input
