#pragma once

#include "app/dictation/TriggerInput.hpp"

#include <QObject>

#include <memory>
#include <string>

namespace platform::input {
class ActiveWindow;
class CapsLockMonitor;
class KeyTap;
} // namespace platform::input

namespace parlino {

class XEventNotifier;

// The trigger keys on an X11 display: Right Ctrl (the Globe trigger) and Right Shift through a RECORD
// tap, Caps Lock through XKB, the front window through the window manager. Every connection is
// served from the Qt event loop.
class X11TriggerInput final : public QObject, public TriggerInput {
    Q_OBJECT

public:
    // `displayName` empty: $DISPLAY.
    explicit X11TriggerInput(std::string displayName = {}, QObject* parent = nullptr);
    ~X11TriggerInput() override;

    std::string missing() override;
    void startTap(Handlers handlers) override;
    void stopTap() override;
    bool isTapRunning() const override;
    std::vector<platform::input::Keysym> keysHeldAtStart() const override;
    bool isCapsLockOn() const override;
    std::optional<platform::input::FrontWindow> frontmost() override;

private:
    void checkBroken();

    std::string displayName_;
    Handlers handlers_;
    std::unique_ptr<platform::input::KeyTap> tap_;
    std::unique_ptr<platform::input::CapsLockMonitor> capsLock_;
    std::unique_ptr<XEventNotifier> tapEvents_;
    std::unique_ptr<XEventNotifier> capsLockEvents_;
    std::unique_ptr<platform::input::ActiveWindow> activeWindow_;
    std::unique_ptr<XEventNotifier> activeWindowEvents_;
    bool brokenReported_ = false;
};

} // namespace parlino
