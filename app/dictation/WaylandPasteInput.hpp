#pragma once

#include "app/dictation/PasteInput.hpp"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::input {
class VirtualKeyboard;
}

namespace parlino {

// Pasting on a Wayland desktop through the compositor's virtual keyboard. The window in front is
// only ours or another (WaylandFrontWindow); the keys go to whatever has the focus, and never while
// a window of ours has it. The user's held modifiers never join the keys: the compositor keeps the
// virtual keyboard's modifiers apart from the real keyboard's.
class WaylandPasteInput final : public PasteInput {
public:
    // The text a paste types instead of pressing Ctrl+V, when the clipboard is one no other
    // application can read; nothing: Ctrl+V.
    using TextToType = std::function<std::optional<QString>()>;

    // `displayName` empty: $WAYLAND_DISPLAY. Throws platform::input::InputError when the compositor
    // cannot be reached or offers no virtual keyboard.
    explicit WaylandPasteInput(std::string displayName = {}, TextToType textToType = {});
    ~WaylandPasteInput() override;

    std::optional<platform::input::FrontWindow> frontmost() override;
    bool activate(platform::input::WindowId window) override;
    unsigned heldModifiers() override;
    void postPaste() override;
    void postReturn() override;

private:
    void typeWith(const std::function<void(platform::input::VirtualKeyboard&)>& keys);

    std::string displayName_;
    TextToType textToType_;
    std::unique_ptr<platform::input::VirtualKeyboard> keyboard_;
};

} // namespace parlino
