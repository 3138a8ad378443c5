#pragma once

#include "app/dictation/TriggerInput.hpp"
#include "platform/input/EvdevKeyWatcher.hpp"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace parlino {

// The trigger keys read from the keyboards under /dev/input: Right Ctrl (the Globe trigger), Right
// Shift and Caps Lock, for a desktop that lets no client watch other programs' keys (Wayland). The
// user must be allowed to read the devices (the input group). Served from the Qt event loop.
class EvdevTriggerInput final : public QObject, public TriggerInput {
    Q_OBJECT

public:
    // The keyboards under /dev/input, the program's own virtual keyboard ignored.
    static platform::input::EvdevKeyWatcher::Options standardOptions();
    static constexpr const char* grant =
        "Add yourself to the input group (sudo usermod -aG input $USER), log out and in again";

    explicit EvdevTriggerInput(platform::input::EvdevKeyWatcher::Options options = standardOptions(),
                               QObject* parent = nullptr);
    ~EvdevTriggerInput() override;

    std::string missing() override;
    std::string howToGrant() override { return grant; }
    std::string tapName() override { return "evdev key watch"; }
    std::string brokenReason() override;
    void startTap(Handlers handlers) override;
    void stopTap() override;
    bool isTapRunning() const override { return watcher_ != nullptr; }
    std::vector<platform::input::Keysym> keysHeldAtStart() const override { return heldAtStart_; }
    bool isCapsLockOn() const override;
    std::optional<platform::input::FrontWindow> frontmost() override;

    // Reads what the keyboards sent; the event loop calls this when they have sent something.
    void dispatch();

private:
    void handleKey(unsigned code, bool pressed, unsigned modifiers);

    platform::input::EvdevKeyWatcher::Options options_;
    Handlers handlers_;
    std::unique_ptr<platform::input::EvdevKeyWatcher> watcher_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<platform::input::Keysym> heldAtStart_;
    bool brokenReported_ = false;
};

} // namespace parlino
