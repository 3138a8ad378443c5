#pragma once

#include "platform/input/Keys.hpp"

#include <memory>
#include <string>

namespace platform::input {

class XConnection;

// Types keys into whatever window has the keyboard focus, through XTEST, as a user would. Keycodes
// are looked up in the server's current layout for every keystroke, so a changed mapping is followed.
// Every key it presses it also releases, even when a later step fails. Single-threaded.
class KeySynthesizer {
public:
    // Throws InputError when the display cannot be opened or has no XTEST.
    explicit KeySynthesizer(const std::string& displayName);
    ~KeySynthesizer();
    KeySynthesizer(const KeySynthesizer&) = delete;
    KeySynthesizer& operator=(const KeySynthesizer&) = delete;

    // Ctrl+V. The user's own held modifiers would combine with it (Ctrl+Alt+V): wait until
    // heldModifiers() is 0 before calling. Throws InputError when the layout has no V or Control
    // key or the server refuses the events.
    void postPaste();
    // Return, with no modifier of its own.
    void postReturn();

    // The modifier keys the user holds down now (Shift, Control, Alt, Super, AltGr; locks excluded).
    unsigned heldModifiers() const;

    // The gap between a key's press and its release, as the server applies it.
    static constexpr unsigned long releaseDelayMilliseconds = 10;

private:
    unsigned keycodeFor(Keysym keysym, const char* name);
    void tap(unsigned keycode, unsigned modifierKeycode);

    std::unique_ptr<XConnection> connection_;
};

} // namespace platform::input
