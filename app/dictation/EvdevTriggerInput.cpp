#include "app/dictation/EvdevTriggerInput.hpp"

#include "app/dictation/WaylandFrontWindow.hpp"
#include "platform/input/UinputKeyboard.hpp"

#include <linux/input-event-codes.h>

#include <QSocketNotifier>

namespace parlino {

namespace keysym = platform::input::keysym;
using Transition = platform::input::KeyTapEvent::Transition;

namespace {

std::optional<platform::input::Keysym> triggerKeysym(unsigned code)
{
    switch (code) {
    case KEY_RIGHTCTRL: return keysym::controlRight;
    case KEY_RIGHTSHIFT: return keysym::shiftRight;
    default: return std::nullopt;
    }
}

} // namespace

platform::input::EvdevKeyWatcher::Options EvdevTriggerInput::standardOptions()
{
    platform::input::EvdevKeyWatcher::Options options;
    options.ignoredName = platform::input::UinputKeyboard::deviceName;
    return options;
}

EvdevTriggerInput::EvdevTriggerInput(platform::input::EvdevKeyWatcher::Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
{
}

EvdevTriggerInput::~EvdevTriggerInput()
{
    stopTap();
}

std::string EvdevTriggerInput::missing()
{
    return platform::input::EvdevKeyWatcher::missing(options_);
}

std::string EvdevTriggerInput::brokenReason()
{
    const std::string missing = this->missing();
    return missing.empty() ? "the keyboards under " + options_.directory.string() + " can no longer be read" : missing;
}

void EvdevTriggerInput::startTap(Handlers handlers)
{
    stopTap();
    handlers_ = std::move(handlers);
    watcher_ = std::make_unique<platform::input::EvdevKeyWatcher>(
        platform::input::EvdevKeyWatcher::Handlers {
            .onKey = [this](unsigned code, bool pressed, unsigned modifiers) { handleKey(code, pressed, modifiers); },
            .onCapsLock =
                [this](bool isOn) {
                    if (handlers_.onCapsLock) {
                        handlers_.onCapsLock(isOn);
                    }
                },
        },
        options_);
    heldAtStart_.clear();
    for (const unsigned code : watcher_->keysDown()) {
        if (const auto key = triggerKeysym(code)) {
            heldAtStart_.push_back(*key);
        }
    }
    brokenReported_ = false;
    notifier_ = std::make_unique<QSocketNotifier>(watcher_->fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { dispatch(); });
}

void EvdevTriggerInput::stopTap()
{
    notifier_.reset();
    watcher_.reset();
    heldAtStart_.clear();
}

bool EvdevTriggerInput::isCapsLockOn() const
{
    return watcher_ && watcher_->isCapsLockOn();
}

std::optional<platform::input::FrontWindow> EvdevTriggerInput::frontmost()
{
    return WaylandFrontWindow::current();
}

void EvdevTriggerInput::dispatch()
{
    if (!watcher_) {
        return;
    }
    watcher_->dispatch();
    // Every keyboard gone and none may be read any more (access revoked): the watch is over.
    if (watcher_ && watcher_->keyboards().empty() && !brokenReported_ && !missing().empty()) {
        brokenReported_ = true;
        QMetaObject::invokeMethod(this, [this] {
            if (handlers_.onBroken) {
                handlers_.onBroken();
            }
        }, Qt::QueuedConnection);
    }
}

void EvdevTriggerInput::handleKey(unsigned code, bool pressed, unsigned modifiers)
{
    if (const auto key = triggerKeysym(code)) {
        if (handlers_.onKey) {
            handlers_.onKey({*key, pressed ? Transition::pressed : Transition::released, modifiers, 0});
        }
        return;
    }
    if (pressed && handlers_.onOtherInput) {
        handlers_.onOtherInput();
    }
}

} // namespace parlino
