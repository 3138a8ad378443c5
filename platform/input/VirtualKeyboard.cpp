#include "platform/input/VirtualKeyboard.hpp"

#include "platform/input/InputError.hpp"
#include "platform/input/WaylandDisplay.hpp"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace platform::input {

namespace {

constexpr std::uint32_t firstKeycode = 9;       // xkb keycodes: the evdev code plus 8
constexpr std::uint32_t evdevOffset = 8;

// The code points of UTF-8 text; a malformed sequence reads as U+FFFD.
std::vector<char32_t> codePoints(const std::string& text)
{
    std::vector<char32_t> points;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length > 0 && at + length <= text.size();
        for (int next = 1; valid && next < length; ++next) {
            const auto byte = static_cast<unsigned char>(text[at + next]);
            valid = (byte & 0xC0) == 0x80;
            point = (point << 6) | (byte & 0x3F);
        }
        points.push_back(valid ? point : U'\uFFFD');
        at += valid ? length : 1;
    }
    return points;
}

std::uint32_t keysymOf(char32_t point)
{
    switch (point) {
    case U'\n':
        return XKB_KEY_Return;
    case U'\t':
        return XKB_KEY_Tab;
    default:
        return point < 0x20 || point == 0x7F || (point >= 0x80 && point < 0xA0) ? XKB_KEY_NoSymbol : xkb_utf32_to_keysym(point);
    }
}

std::string keysymName(std::uint32_t keysym)
{
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof name) < 0) {
        return "NoSymbol";
    }
    return name;
}

struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};

std::uint32_t milliseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace

VirtualKeyboard::VirtualKeyboard(const std::string& displayName)
    : display_(std::make_unique<WaylandDisplay>(displayName))
{
    auto* manager = static_cast<zwp_virtual_keyboard_manager_v1*>(display_->bind(zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!manager) {
        throw InputError("The Wayland compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)");
    }
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, display_->seat());
    zwp_virtual_keyboard_manager_v1_destroy(manager);
    try {
        // A compositor that allows the keyboard to no one says so as a protocol error.
        display_->roundtrip();
    } catch (...) {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
        throw;
    }
}

VirtualKeyboard::~VirtualKeyboard()
{
    zwp_virtual_keyboard_v1_destroy(keyboard_);
    try {
        display_->flush();
    } catch (const InputError&) {
        // The compositor is gone; so is the keyboard.
    }
}

void VirtualKeyboard::useKeymapWith(const std::vector<std::uint32_t>& keysyms)
{
    const bool covered = std::all_of(keysyms.begin(), keysyms.end(), [this](std::uint32_t keysym) {
        return std::find(keymap_.begin(), keymap_.end(), keysym) != keymap_.end();
    });
    if (covered && !keymap_.empty()) {
        return;
    }
    std::vector<std::uint32_t> keys {XKB_KEY_Control_L, XKB_KEY_v, XKB_KEY_Return};
    for (const auto keysym : keysyms) {
        if (std::find(keys.begin(), keys.end(), keysym) == keys.end()) {
            keys.push_back(keysym);
        }
    }
    std::string names = "xkb_keycodes \"parlino\" { minimum = 8; maximum = " + std::to_string(firstKeycode + keys.size()) + ";";
    std::string symbols = "xkb_symbols \"parlino\" {";
    for (std::size_t index = 0; index < keys.size(); ++index) {
        const std::string key = "<K" + std::to_string(index) + ">";
        names += " " + key + " = " + std::to_string(firstKeycode + index) + ";";
        symbols += " key " + key + " { [ " + keysymName(keys[index]) + " ] };";
    }
    symbols += " modifier_map Control { <K0> }; };";
    const std::string source = "xkb_keymap { " + names + " }; xkb_types \"parlino\" { include \"complete\" }; "
                               "xkb_compatibility \"parlino\" { include \"complete\" }; " + symbols + " };";

    // Compiled here first, and sent written out in full, so that no client needs the layout files.
    std::unique_ptr<xkb_context, ContextDeleter> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
        context ? xkb_keymap_new_from_string(context.get(), source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)
                : nullptr);
    if (!keymap) {
        throw InputError("Cannot make a keymap for the virtual keyboard");
    }
    const xkb_mod_index_t control = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL);
    std::unique_ptr<char, decltype(&std::free)> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    if (!text || control == XKB_MOD_INVALID) {
        throw InputError("Cannot make a keymap for the virtual keyboard");
    }
    const std::size_t size = std::strlen(text.get()) + 1;
    const int file = ::memfd_create("parlino-keymap", MFD_CLOEXEC);
    if (file < 0) {
        throw InputError("Cannot hand the keymap to the Wayland compositor");
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(file, text.get() + written, size - written);
        if (count <= 0) {
            ::close(file);
            throw InputError("Cannot hand the keymap to the Wayland compositor");
        }
        written += static_cast<std::size_t>(count);
    }
    // The request carries a duplicate of the descriptor.
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, file, static_cast<std::uint32_t>(size));
    ::close(file);
    keymap_ = std::move(keys);
    controlMask_ = 1u << control;
}

void VirtualKeyboard::key(std::uint32_t keycode, bool pressed)
{
    zwp_virtual_keyboard_v1_key(keyboard_, milliseconds(), keycode - evdevOffset,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void VirtualKeyboard::setModifiers(std::uint32_t depressed)
{
    zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, 0, 0);
}

void VirtualKeyboard::tap(std::uint32_t keysym, bool withControl)
{
    const auto place = std::find(keymap_.begin(), keymap_.end(), keysym);
    const auto keycode = firstKeycode + static_cast<std::uint32_t>(place - keymap_.begin());
    if (withControl) {
        key(firstKeycode, true);
        setModifiers(controlMask_);
    }
    key(keycode, true);
    key(keycode, false);
    if (withControl) {
        key(firstKeycode, false);
        setModifiers(0);
    }
}

void VirtualKeyboard::postPaste()
{
    useKeymapWith({XKB_KEY_v});
    tap(XKB_KEY_v, true);
    display_->roundtrip();
}

void VirtualKeyboard::postReturn()
{
    useKeymapWith({XKB_KEY_Return});
    tap(XKB_KEY_Return, false);
    display_->roundtrip();
}

void VirtualKeyboard::type(const std::string& text)
{
    std::vector<std::uint32_t> keysyms;
    for (const char32_t point : codePoints(text)) {
        if (const auto keysym = keysymOf(point); keysym != XKB_KEY_NoSymbol) {
            keysyms.push_back(keysym);
        }
    }
    // A stretch at a time whose distinct characters fit one keymap.
    for (std::size_t start = 0; start < keysyms.size();) {
        std::vector<std::uint32_t> distinct;
        std::size_t end = start;
        for (; end < keysyms.size(); ++end) {
            if (std::find(distinct.begin(), distinct.end(), keysyms[end]) == distinct.end()) {
                if (distinct.size() == keysPerKeymap) {
                    break;
                }
                distinct.push_back(keysyms[end]);
            }
        }
        useKeymapWith(distinct);
        for (std::size_t at = start; at < end; ++at) {
            tap(keysyms[at], false);
        }
        display_->roundtrip();
        start = end;
    }
}

} // namespace platform::input
