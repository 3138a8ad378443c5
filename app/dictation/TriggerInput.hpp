#pragma once

#include "platform/input/ActiveWindow.hpp"
#include "platform/input/KeyTap.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlino {

// What the push-to-talk triggers need of the desktop: whether its keys may be watched, a listen-only
// tap on the trigger keys (and the bare fact of any other press) with the Caps Lock state, and the
// window in front. The X11 session in the application, a scripted fake in tests. Main thread only.
class TriggerInput {
public:
    struct Handlers {
        std::function<void(const platform::input::KeyTapEvent&)> onKey;
        std::function<void(bool isOn)> onCapsLock;
        // The desktop went away under a running tap; runs outside the tap's own dispatch.
        std::function<void()> onBroken;
        // Any other key or a mouse button went down; which one is never told.
        std::function<void()> onOtherInput;
        // What `notice()` says changed while the tap runs, as when the desktop answers late.
        std::function<void()> onNoticeChanged;
    };

    static constexpr const char* x11Grant =
        "Log in to an X11 (Xorg) session whose X server has RECORD and XTEST, then start Parlino again";

    virtual ~TriggerInput() = default;

    // What stands in the way of watching and typing keys; empty when nothing does.
    virtual std::string missing() = 0;
    // How the user removes what `missing()` names.
    virtual std::string howToGrant() { return x11Grant; }
    // The tap as log lines name it.
    virtual std::string tapName() { return "X11 event tap"; }
    // Why a tap broke (after `onBroken`).
    virtual std::string brokenReason() { return "the connection to the X server was lost"; }
    // What the user should know of how the triggers are pressed on this desktop while the tap
    // runs; empty where the keys themselves are watched.
    virtual std::string notice() { return {}; }
    // Starts the tap on the trigger keys in place of a running one. Throws std::exception with the
    // reason when it cannot be created.
    virtual void startTap(Handlers handlers) = 0;
    virtual void stopTap() = 0;
    virtual bool isTapRunning() const = 0;
    // The trigger keys that were already down when the running tap began.
    virtual std::vector<platform::input::Keysym> keysHeldAtStart() const = 0;
    virtual bool isCapsLockOn() const = 0;
    virtual std::optional<platform::input::FrontWindow> frontmost() = 0;
};

} // namespace parlino
