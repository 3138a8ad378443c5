#pragma once

#include "app/dictation/Clock.hpp"
#include "app/dictation/HotkeyInput.hpp"
#include "platform/portal/GlobalShortcutsPortal.hpp"

#include <QObject>
#include <QString>

#include <memory>

namespace parlino {

// The global hotkey bound through the desktop's global shortcuts portal, offered to the desktop as
// the preferred trigger of a "Start or stop recording" shortcut; the desktop may ask the user, who
// may bind another combination there. A lone modifier cannot be a desktop shortcut and is refused
// at once; the desktop's own answer comes later, and a refusal shows in `failure()`. Main thread only.
class PortalHotkeyInput final : public QObject, public HotkeyInput {
    Q_OBJECT

public:
    static constexpr const char* shortcutId = "hotkey";

    PortalHotkeyInput(QDBusConnection bus, Clock& clock, QObject* parent = nullptr);
    ~PortalHotkeyInput() override;

    void grab(platform::input::Keysym keysym, unsigned xModifiers) override;
    void ungrab() override;
    void setOnPressed(std::function<void()> onPressed) override { onPressed_ = std::move(onPressed); }

    // Why the desktop did not bind it; empty while it is bound or being bound.
    const QString& failure() const { return failure_; }

    // The combination in the shortcuts' own notation, e.g. "CTRL+ALT+k"; throws std::invalid_argument
    // for one no desktop shortcut can be.
    static QString triggerOf(platform::input::Keysym keysym, unsigned xModifiers);

private:
    QDBusConnection bus_;
    Clock& clock_;
    std::unique_ptr<platform::portal::GlobalShortcutsPortal> portal_;
    std::function<void()> onPressed_;
    QString failure_;
};

} // namespace parlino
