#pragma once

#include "app/dictation/Clock.hpp"
#include "app/dictation/TriggerInput.hpp"
#include "platform/portal/GlobalShortcutsPortal.hpp"

#include <QObject>

#include <memory>
#include <optional>

namespace parlino {

// The push-to-talk triggers through the desktop's global shortcuts: a "Dictate" shortcut the user
// binds in the desktop's own settings stands in for the Right Ctrl hold, so its thresholds and its
// setting apply. Where the desktop reports releases, a hold is push-to-talk; a press the desktop
// releases at once (it cannot see releases) or never releases latches, and the next press ends it.
// Lone modifiers and lock keys cannot be bound as shortcuts, so Right Shift and Caps Lock stay
// silent here. Which window has the focus is not for a client to know: the target is "another
// window". Main thread only.
class PortalTriggerInput final : public QObject, public TriggerInput {
    Q_OBJECT

public:
    static constexpr const char* shortcutId = "dictate";
    // A release sooner than this after its press is the desktop's own, not the user's.
    static constexpr Clock::Duration tapLimit {300};

    // The clock times the presses and the portal's time limits.
    PortalTriggerInput(QDBusConnection bus, Clock& clock, QObject* parent = nullptr);
    ~PortalTriggerInput() override;

    std::string missing() override;
    // Binds the shortcut; the desktop may ask first. Failures arrive later through onBroken.
    void startTap(Handlers handlers) override;
    void stopTap() override;
    bool isTapRunning() const override;
    std::vector<platform::input::Keysym> keysHeldAtStart() const override;
    bool isCapsLockOn() const override;
    std::optional<platform::input::FrontWindow> frontmost() override;
    std::string howToGrant() override;
    std::string tapName() override;
    std::string brokenReason() override;
    // What the shortcut is bound to and which triggers cannot be bound.
    std::string notice() override;

private:
    void activated();
    void deactivated();
    void send(platform::input::KeyTapEvent::Transition transition);

    QDBusConnection bus_;
    Clock& clock_;
    Handlers handlers_;
    std::unique_ptr<platform::portal::GlobalShortcutsPortal> portal_;
    QString boundTrigger_;
    std::string brokenReason_;
    bool down_ = false;
    // The press that latched, waiting for the next press to end it.
    bool latched_ = false;
    Clock::TimePoint pressedAt_ {};
};

} // namespace parlino
