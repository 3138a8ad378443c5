#pragma once

#include "platform/input/Keys.hpp"
#include "platform/input/XEventSource.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::input {

struct KeyTapEvent {
    enum class Transition { pressed, released };

    Keysym keysym = 0;
    Transition transition = Transition::pressed;
    unsigned modifiers = 0;          // X modifier state just before the event (the key's own bit excluded)
    std::uint32_t serverTime = 0;    // X server time in milliseconds
};

// A listen-only tap on the whole keyboard: a RECORD context on connections of its own. It reports
// presses and releases of the watched keys; of every other key press and mouse button press it
// reports only that one happened (which key or button is never stored or passed on), and other
// releases are dropped where they arrive. A press of a watched key that is already down
// (auto-repeat) is not reported.
// Watched keys are found by keysym and followed when the keyboard mapping changes.
// Recording runs from construction to destruction. Single-threaded: call everything on one thread.
class KeyTap final : public XEventSource {
public:
    using EventHandler = std::function<void(const KeyTapEvent&)>;
    // Another key or a mouse button (the wheel included) went down.
    using OtherInputHandler = std::function<void()>;

    // Throws InputError when the display cannot be opened, has no RECORD, or recording does not start
    // within `startTimeout`.
    KeyTap(const std::string& displayName, std::vector<Keysym> watchedKeys, EventHandler onEvent,
           OtherInputHandler onOtherInput = {}, std::chrono::milliseconds startTimeout = std::chrono::seconds(5));
    ~KeyTap() override;
    KeyTap(const KeyTap&) = delete;
    KeyTap& operator=(const KeyTap&) = delete;

    // dispatch() runs the handler for each recorded event.
    int fd() const override;
    void dispatch() override;
    bool hasQueuedEvents() const override;

    // The watched keys that were down when recording began, so that a key held across a restart of the
    // tap still has its release matched to a press.
    const std::vector<Keysym>& keysHeldAtStart() const;
    // The watched keys down now.
    std::vector<Keysym> keysDown() const;
    // The effective modifier state now (locks included).
    unsigned modifierState() const;
    // The X server went away; no more events will come.
    bool isBroken() const;

private:
    class Recorder;
    std::unique_ptr<Recorder> recorder_;
};

} // namespace platform::input
