#include "app/dictation/UinputPasteInput.hpp"

#include "app/dictation/WaylandFrontWindow.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/Keys.hpp"

#include <QSocketNotifier>

namespace parlino {

UinputPasteInput::UinputPasteInput(std::unique_ptr<platform::input::UinputKeyboard> keyboard,
                                   std::optional<platform::input::EvdevKeyWatcher::Options> heldKeys, QObject* parent)
    : QObject(parent)
    , keyboard_(std::move(keyboard))
{
    if (!heldKeys) {
        return;
    }
    try {
        heldKeys_ = std::make_unique<platform::input::EvdevKeyWatcher>(platform::input::EvdevKeyWatcher::Handlers {}, *heldKeys);
    } catch (const platform::input::InputError&) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(heldKeys_->fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { heldKeys_->dispatch(); });
}

UinputPasteInput::~UinputPasteInput()
{
    notifier_.reset();
}

std::optional<platform::input::FrontWindow> UinputPasteInput::frontmost()
{
    return WaylandFrontWindow::current();
}

bool UinputPasteInput::activate(platform::input::WindowId window)
{
    return WaylandFrontWindow::activate(window);
}

unsigned UinputPasteInput::heldModifiers()
{
    if (!heldKeys_) {
        return 0;
    }
    heldKeys_->dispatch();
    return heldKeys_->modifiers() & ~platform::input::modifier::lock;
}

} // namespace parlino
