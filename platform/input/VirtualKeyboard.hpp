#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct zwp_virtual_keyboard_v1;

namespace platform::input {

class WaylandDisplay;

// Types into whatever has the keyboard focus on a Wayland desktop, through the compositor's virtual
// keyboard (zwp_virtual_keyboard_manager_v1), as a keyboard of our own would. Its keymap holds just
// the keys it types: Control, V and Return always, and for text each of the text's characters on a
// key of its own, so any text comes out whatever layout the user has. Every key it presses it also
// releases. Single-threaded.
class VirtualKeyboard {
public:
    // Keys one keymap holds; longer texts are typed a keymap at a time.
    static constexpr std::size_t keysPerKeymap = 200;

    // `displayName` empty: $WAYLAND_DISPLAY. Throws InputError when no compositor answers or it
    // offers no virtual keyboard.
    explicit VirtualKeyboard(const std::string& displayName = {});
    ~VirtualKeyboard();
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    // Ctrl+V, and Return, with no modifier of the user's. Throw InputError when the compositor
    // refuses them or has gone.
    void postPaste();
    void postReturn();
    // Types UTF-8 text character by character; a line break is Return, a tab Tab, other control
    // characters are left out.
    void type(const std::string& text);

private:
    void useKeymapWith(const std::vector<std::uint32_t>& keysyms);
    void tap(std::uint32_t keysym, bool withControl);
    void key(std::uint32_t keycode, bool pressed);
    void setModifiers(std::uint32_t depressed);

    std::unique_ptr<WaylandDisplay> display_;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    std::vector<std::uint32_t> keymap_;   // the keysym on each key, from keycode 9 up
    std::uint32_t controlMask_ = 0;
};

} // namespace platform::input
