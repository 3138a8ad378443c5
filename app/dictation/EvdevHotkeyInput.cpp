#include "app/dictation/EvdevHotkeyInput.hpp"

#include "platform/input/EvdevKeyCodes.hpp"
#include "platform/input/InputError.hpp"

#include <QSocketNotifier>

namespace parlino {

EvdevHotkeyInput::EvdevHotkeyInput(platform::input::EvdevKeyWatcher::Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
{
}

EvdevHotkeyInput::~EvdevHotkeyInput()
{
    notifier_.reset();
}

void EvdevHotkeyInput::grab(platform::input::Keysym keysym, unsigned xModifiers)
{
    const auto code = platform::input::EvdevKeyCodes::codeForKeysym(keysym);
    if (!code) {
        throw platform::input::InputError("the key has no place on the keyboard");
    }
    if (!watcher_) {
        watcher_ = std::make_unique<platform::input::EvdevKeyWatcher>(
            platform::input::EvdevKeyWatcher::Handlers {
                .onKey =
                    [this](unsigned pressedCode, bool pressed, unsigned modifiers) {
                        if (pressed && grabbed_ && grabbed_->code == pressedCode
                            && (modifiers & comparedModifiers) == grabbed_->modifiers && onPressed_) {
                            onPressed_();
                        }
                    },
                .onCapsLock = {},
            },
            options_);
        notifier_ = std::make_unique<QSocketNotifier>(watcher_->fd(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { dispatch(); });
    }
    grabbed_ = Combination {*code, xModifiers & comparedModifiers};
}

void EvdevHotkeyInput::ungrab()
{
    grabbed_.reset();
}

void EvdevHotkeyInput::dispatch()
{
    if (watcher_) {
        watcher_->dispatch();
    }
}

} // namespace parlino
