#pragma once

#include "platform/input/Keys.hpp"
#include "platform/input/XEventSource.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

union _XEvent;

namespace platform::input {

class XConnection;

// One system-wide hotkey: a passive grab of a key with modifiers on the root window, on a connection
// of its own. Caps Lock and Num Lock do not matter: every combination of the two is grabbed too.
// A held hotkey fires once; auto-repeat does not fire it again. Single-threaded.
class HotkeyGrabber final : public XEventSource {
public:
    using PressHandler = std::function<void()>;

    struct Hotkey {
        Keysym keysym = 0;
        unsigned modifiers = 0;      // X modifier mask (see Keys.hpp); Lock and Num Lock bits are ignored
        bool operator==(const Hotkey&) const = default;
    };

    // Throws InputError when the display cannot be opened.
    HotkeyGrabber(const std::string& displayName, PressHandler onPressed);
    ~HotkeyGrabber() override;
    HotkeyGrabber(const HotkeyGrabber&) = delete;
    HotkeyGrabber& operator=(const HotkeyGrabber&) = delete;

    // Grabs `hotkey` in place of the current one, all or nothing: when any grab is refused (another
    // program holds the combination) or the layout has no key for the keysym, every grab made for it
    // is undone, the former hotkey stays grabbed, and InputError says why.
    void grab(const Hotkey& hotkey);
    // Releases the hotkey; nothing when none is grabbed.
    void ungrab();
    const std::optional<Hotkey>& hotkey() const { return hotkey_; }

    // dispatch() runs the handler for each press of the hotkey.
    int fd() const override;
    void dispatch() override;
    bool hasQueuedEvents() const override;

private:
    struct Grab {
        Hotkey hotkey;
        std::vector<unsigned> keycodes;
        std::vector<unsigned> masks;
    };

    Grab grabKeys(const Hotkey& hotkey);
    void releaseKeys(const Grab& grab);
    bool isRepeat(const _XEvent& release);

    std::unique_ptr<XConnection> connection_;
    PressHandler onPressed_;
    std::optional<Hotkey> hotkey_;
    Grab grabbed_;
    std::vector<unsigned> held_;     // grabbed keycodes down now
    bool detectableRepeat_ = false;
};

} // namespace platform::input
