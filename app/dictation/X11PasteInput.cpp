#include "app/dictation/X11PasteInput.hpp"

#include "app/dictation/XEventNotifier.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/KeySynthesizer.hpp"

namespace parlino {

X11PasteInput::X11PasteInput(std::string displayName)
    : displayName_(std::move(displayName))
{
}

X11PasteInput::~X11PasteInput() = default;

platform::input::ActiveWindow* X11PasteInput::activeWindow()
{
    if (!activeWindow_) {
        try {
            activeWindow_ = std::make_unique<platform::input::ActiveWindow>(displayName_);
            activeWindowEvents_ = std::make_unique<XEventNotifier>(*activeWindow_);
        } catch (const platform::input::InputError&) {
            return nullptr;
        }
    }
    return activeWindow_.get();
}

platform::input::KeySynthesizer& X11PasteInput::synthesizer()
{
    if (!synthesizer_) {
        synthesizer_ = std::make_unique<platform::input::KeySynthesizer>(displayName_);
    }
    return *synthesizer_;
}

std::optional<platform::input::FrontWindow> X11PasteInput::frontmost()
{
    auto* windows = activeWindow();
    return windows ? windows->frontmost() : std::nullopt;
}

bool X11PasteInput::activate(platform::input::WindowId window)
{
    auto* windows = activeWindow();
    return windows && windows->activate(window);
}

unsigned X11PasteInput::heldModifiers()
{
    try {
        return synthesizer().heldModifiers();
    } catch (const platform::input::InputError&) {
        return 0;
    }
}

void X11PasteInput::postPaste()
{
    synthesizer().postPaste();
}

void X11PasteInput::postReturn()
{
    synthesizer().postReturn();
}

} // namespace parlino
