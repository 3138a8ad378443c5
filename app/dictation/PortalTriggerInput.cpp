#include "app/dictation/PortalTriggerInput.hpp"

#include "platform/input/Keys.hpp"

namespace parlino {

using Transition = platform::input::KeyTapEvent::Transition;

PortalTriggerInput::PortalTriggerInput(QDBusConnection bus, Clock& clock, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , clock_(clock)
{
}

PortalTriggerInput::~PortalTriggerInput() = default;

std::string PortalTriggerInput::missing()
{
    return bus_.isConnected() ? std::string {} : std::string {"there is no D-Bus session bus to reach the desktop's portals"};
}

void PortalTriggerInput::startTap(Handlers handlers)
{
    stopTap();
    handlers_ = std::move(handlers);
    brokenReason_.clear();
    portal_ = std::make_unique<platform::portal::GlobalShortcutsPortal>(
        bus_, [this](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
            clock_.schedule(delay, context, std::move(action));
        },
        platform::portal::GlobalShortcutsPortal::Handlers {
            .onBound = [this](const QList<platform::portal::GlobalShortcutsPortal::Bound>& bound) {
                for (const auto& shortcut : bound) {
                    if (shortcut.id == QLatin1String(shortcutId)) {
                        boundTrigger_ = shortcut.triggerDescription;
                    }
                }
                if (handlers_.onNoticeChanged) {
                    handlers_.onNoticeChanged();
                }
            },
            .onActivated = [this](const QString& id, quint64) {
                if (id == QLatin1String(shortcutId)) {
                    activated();
                }
            },
            // The desktops' timestamps differ in their units; the clock's own time serves.
            .onDeactivated = [this](const QString& id, quint64) {
                if (id == QLatin1String(shortcutId)) {
                    deactivated();
                }
            },
            .onFailed = [this](const QString& reason) {
                brokenReason_ = reason.toStdString();
                // The hold in progress ends as a release, so a running dictation stops and keeps its text.
                if (down_) {
                    send(Transition::released);
                }
                if (handlers_.onBroken) {
                    handlers_.onBroken();
                }
            },
        });
    portal_->bind({{QString::fromLatin1(shortcutId), QStringLiteral("Dictate"), QString()}});
}

void PortalTriggerInput::stopTap()
{
    portal_.reset();
    boundTrigger_.clear();
    down_ = false;
    latched_ = false;
}

bool PortalTriggerInput::isTapRunning() const
{
    return portal_ != nullptr;
}

std::vector<platform::input::Keysym> PortalTriggerInput::keysHeldAtStart() const
{
    return {};
}

bool PortalTriggerInput::isCapsLockOn() const
{
    return false;
}

std::optional<platform::input::FrontWindow> PortalTriggerInput::frontmost()
{
    // Some other window had the focus; the compositor names none to its clients.
    return platform::input::FrontWindow {};
}

std::string PortalTriggerInput::howToGrant()
{
    return "Allow Parlino's \"Dictate\" shortcut when the desktop asks, or set it in the desktop's keyboard shortcut settings";
}

std::string PortalTriggerInput::tapName()
{
    return "global shortcuts portal";
}

std::string PortalTriggerInput::brokenReason()
{
    return brokenReason_;
}

std::string PortalTriggerInput::notice()
{
    QString text = boundTrigger_.isEmpty()
        ? QStringLiteral("Hold the \"Dictate\" shortcut set in the desktop's keyboard settings to dictate")
        : QStringLiteral("Hold %1 (the desktop's \"Dictate\" shortcut) to dictate").arg(boundTrigger_);
    return (text + QStringLiteral("; Right Shift and Caps Lock cannot be bound as desktop shortcuts")).toStdString();
}

void PortalTriggerInput::activated()
{
    if (down_) {
        // A desktop that never reports releases, or a latched press: this press ends it.
        latched_ = false;
        send(Transition::released);
        return;
    }
    pressedAt_ = clock_.now();
    send(Transition::pressed);
}

void PortalTriggerInput::deactivated()
{
    if (!down_ || latched_) {
        return;
    }
    if (clock_.now() - pressedAt_ < tapLimit) {
        latched_ = true;
        return;
    }
    send(Transition::released);
}

void PortalTriggerInput::send(Transition transition)
{
    down_ = transition == Transition::pressed;
    if (handlers_.onKey) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch());
        handlers_.onKey({platform::input::keysym::controlRight, transition, 0, static_cast<std::uint32_t>(elapsed.count())});
    }
}

} // namespace parlino
