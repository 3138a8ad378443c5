#pragma once

#include "app/dictation/FeedbackSoundPlayer.hpp"
#include "app/dictation/HotkeyInput.hpp"
#include "app/dictation/PasteInput.hpp"
#include "app/dictation/TriggerInput.hpp"
#include "app/dictation/Clock.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace dictationtest {

using platform::input::FrontWindow;
using platform::input::Keysym;

// A keyboard and window manager the test plays: keys go down and up whether or not a tap listens,
// and a running tap hears them.
class FakeTriggerInput final : public parlino::TriggerInput {
public:
    std::string missing() override { return missingText; }

    void startTap(Handlers handlers) override
    {
        ++tapStarts;
        if (!tapError.empty()) {
            throw std::runtime_error(tapError);
        }
        handlers_ = std::move(handlers);
        running_ = true;
        heldAtStart_.assign(down_.begin(), down_.end());
    }
    void stopTap() override { running_ = false; }
    bool isTapRunning() const override { return running_; }
    std::vector<Keysym> keysHeldAtStart() const override { return heldAtStart_; }
    bool isCapsLockOn() const override { return capsLockOn_; }
    std::optional<FrontWindow> frontmost() override { return front; }

    void press(Keysym key, unsigned modifiers = 0)
    {
        if (!down_.insert(key).second) {
            return;
        }
        if (running_) {
            handlers_.onKey({key, platform::input::KeyTapEvent::Transition::pressed, modifiers, 0});
        }
    }
    void release(Keysym key)
    {
        if (down_.erase(key) == 0) {
            return;
        }
        if (running_) {
            handlers_.onKey({key, platform::input::KeyTapEvent::Transition::released, 0, 0});
        }
    }
    // Another key or a mouse button goes down.
    void otherInput()
    {
        if (running_) {
            handlers_.onOtherInput();
        }
    }
    void setCapsLock(bool on)
    {
        capsLockOn_ = on;
        if (running_) {
            handlers_.onCapsLock(on);
        }
    }
    void breakTap() { handlers_.onBroken(); }

    std::string missingText;
    std::string tapError;
    std::optional<FrontWindow> front;
    int tapStarts = 0;

private:
    Handlers handlers_;
    bool running_ = false;
    bool capsLockOn_ = false;
    std::set<Keysym> down_;
    std::vector<Keysym> heldAtStart_;
};

// A window manager and keyboard output: a window comes to the front after a set number of
// activations; keystrokes are kept with the time they were typed.
class FakePasteInput final : public parlino::PasteInput {
public:
    explicit FakePasteInput(parlino::Clock& clock) : clock_(clock) {}

    std::optional<FrontWindow> frontmost() override { return front; }
    bool activate(platform::input::WindowId window) override
    {
        activations.push_back(window);
        if (std::find(goneWindows.begin(), goneWindows.end(), window) != goneWindows.end()) {
            return false;
        }
        if (--activationsBeforeFront <= 0) {
            front = FrontWindow {window, static_cast<int>(window)};
        }
        return true;
    }
    unsigned heldModifiers() override { return clock_.now() < modifiersHeldUntil ? heldMask : 0; }
    void postPaste() override
    {
        if (!keystrokeError.empty()) {
            throw std::runtime_error(keystrokeError);
        }
        keystrokes.push_back({"paste", clock_.now()});
    }
    void postReturn() override { keystrokes.push_back({"return", clock_.now()}); }

    struct Keystroke {
        std::string key;
        parlino::Clock::TimePoint time;
    };

    std::optional<FrontWindow> front;
    int activationsBeforeFront = 1;
    std::vector<platform::input::WindowId> goneWindows;
    std::vector<platform::input::WindowId> activations;
    unsigned heldMask = 0;
    parlino::Clock::TimePoint modifiersHeldUntil {};
    std::string keystrokeError;
    std::vector<Keystroke> keystrokes;

private:
    parlino::Clock& clock_;
};

// A desktop on which some combinations are taken by other programs.
class FakeHotkeyInput final : public parlino::HotkeyInput {
public:
    struct Combination {
        Keysym keysym;
        unsigned modifiers;
        bool operator==(const Combination&) const = default;
    };

    void grab(Keysym keysym, unsigned xModifiers) override
    {
        const Combination wanted {keysym, xModifiers};
        if (std::find(taken.begin(), taken.end(), wanted) != taken.end()) {
            throw std::runtime_error("the key combination is already taken by another program");
        }
        grabbed = wanted;
    }
    void ungrab() override { grabbed.reset(); }
    void setOnPressed(std::function<void()> onPressed) override { onPressed_ = std::move(onPressed); }

    // The user presses `combination`; only a grabbed one reaches the program.
    void press(const Combination& combination)
    {
        if (grabbed == combination && onPressed_) {
            onPressed_();
        }
    }

    std::optional<Combination> grabbed;
    std::vector<Combination> taken;

private:
    std::function<void()> onPressed_;
};

class FakeSoundPlayer final : public parlino::FeedbackSoundPlayer {
public:
    void play(parlino::FeedbackSound sound) override { played.push_back(sound); }
    std::vector<parlino::FeedbackSound> played;
};

} // namespace dictationtest
