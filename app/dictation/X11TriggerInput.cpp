#include "app/dictation/X11TriggerInput.hpp"

#include "app/dictation/XEventNotifier.hpp"
#include "platform/input/CapsLockMonitor.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/InputSession.hpp"
#include "platform/input/KeyTap.hpp"

namespace parlino {

namespace keysym = platform::input::keysym;

X11TriggerInput::X11TriggerInput(std::string displayName, QObject* parent)
    : QObject(parent)
    , displayName_(std::move(displayName))
{
}

X11TriggerInput::~X11TriggerInput()
{
    stopTap();
}

std::string X11TriggerInput::missing()
{
    return platform::input::InputSession(displayName_).missingText();
}

void X11TriggerInput::startTap(Handlers handlers)
{
    stopTap();
    handlers_ = std::move(handlers);
    auto tap = std::make_unique<platform::input::KeyTap>(
        displayName_, std::vector {keysym::controlRight, keysym::shiftRight},
        [this](const platform::input::KeyTapEvent& event) {
            if (handlers_.onKey) {
                handlers_.onKey(event);
            }
        },
        [this] {
            if (handlers_.onOtherInput) {
                handlers_.onOtherInput();
            }
        });
    auto capsLock = std::make_unique<platform::input::CapsLockMonitor>(displayName_, [this](bool isOn) {
        if (handlers_.onCapsLock) {
            handlers_.onCapsLock(isOn);
        }
    });
    tap_ = std::move(tap);
    capsLock_ = std::move(capsLock);
    brokenReported_ = false;
    tapEvents_ = std::make_unique<XEventNotifier>(*tap_, [this] { checkBroken(); });
    capsLockEvents_ = std::make_unique<XEventNotifier>(*capsLock_);
}

void X11TriggerInput::stopTap()
{
    tapEvents_.reset();
    capsLockEvents_.reset();
    tap_.reset();
    capsLock_.reset();
}

bool X11TriggerInput::isTapRunning() const
{
    return tap_ != nullptr;
}

std::vector<platform::input::Keysym> X11TriggerInput::keysHeldAtStart() const
{
    return tap_ ? tap_->keysHeldAtStart() : std::vector<platform::input::Keysym> {};
}

bool X11TriggerInput::isCapsLockOn() const
{
    return capsLock_ && capsLock_->isOn();
}

std::optional<platform::input::FrontWindow> X11TriggerInput::frontmost()
{
    if (!activeWindow_) {
        try {
            activeWindow_ = std::make_unique<platform::input::ActiveWindow>(displayName_);
            activeWindowEvents_ = std::make_unique<XEventNotifier>(*activeWindow_);
        } catch (const platform::input::InputError&) {
            return std::nullopt;
        }
    }
    return activeWindow_->frontmost();
}

void X11TriggerInput::checkBroken()
{
    if (!tap_ || !tap_->isBroken() || brokenReported_) {
        return;
    }
    brokenReported_ = true;
    // The tap is still inside its own dispatch here; its owner may replace it only afterwards.
    QMetaObject::invokeMethod(this, [this] {
        if (handlers_.onBroken) {
            handlers_.onBroken();
        }
    }, Qt::QueuedConnection);
}

} // namespace parlino
