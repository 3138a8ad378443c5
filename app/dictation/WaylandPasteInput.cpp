#include "app/dictation/WaylandPasteInput.hpp"

#include "app/dictation/WaylandFrontWindow.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/VirtualKeyboard.hpp"

namespace parlino {

WaylandPasteInput::WaylandPasteInput(std::string displayName, TextToType textToType)
    : displayName_(std::move(displayName))
    , textToType_(std::move(textToType))
    , keyboard_(std::make_unique<platform::input::VirtualKeyboard>(displayName_))
{
}

WaylandPasteInput::~WaylandPasteInput() = default;

std::optional<platform::input::FrontWindow> WaylandPasteInput::frontmost()
{
    return WaylandFrontWindow::current();
}

bool WaylandPasteInput::activate(platform::input::WindowId window)
{
    return WaylandFrontWindow::activate(window);
}

unsigned WaylandPasteInput::heldModifiers()
{
    return 0;
}

void WaylandPasteInput::typeWith(const std::function<void(platform::input::VirtualKeyboard&)>& keys)
{
    if (WaylandFrontWindow::current().window == WaylandFrontWindow::ownWindow) {
        throw platform::input::InputError("a window of Parlino's own has the focus");
    }
    try {
        // A compositor that restarted is met afresh.
        if (!keyboard_) {
            keyboard_ = std::make_unique<platform::input::VirtualKeyboard>(displayName_);
        }
        keys(*keyboard_);
    } catch (const platform::input::InputError&) {
        keyboard_.reset();
        throw;
    }
}

void WaylandPasteInput::postPaste()
{
    const auto text = textToType_ ? textToType_() : std::nullopt;
    typeWith([&text](platform::input::VirtualKeyboard& keyboard) {
        if (text) {
            keyboard.type(text->toStdString());
        } else {
            keyboard.postPaste();
        }
    });
}

void WaylandPasteInput::postReturn()
{
    typeWith([](platform::input::VirtualKeyboard& keyboard) { keyboard.postReturn(); });
}

} // namespace parlino
