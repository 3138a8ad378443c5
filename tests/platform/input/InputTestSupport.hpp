#pragma once

#include "platform/input/Keys.hpp"
#include "platform/input/XEventSource.hpp"
#include "support/XvfbTestServer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace inputtests {

using platform::input::Keysym;

constexpr std::chrono::milliseconds patience {10000};

// Dispatches the sources' events as they arrive until `done` holds; false when `timeout` passed first.
bool pumpUntil(std::initializer_list<platform::input::XEventSource*> sources, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = patience);

// Starts a private X server for the test, or skips the test with the reason.
std::unique_ptr<testsupport::XvfbTestServer> startServer(testsupport::XvfbTestServer::Options options = {});

// A user at the keyboard and mouse: presses and releases keys and buttons through XTEST on a connection of its own. Each
// call returns after the server has handled it.
class FakeKeyboard {
public:
    explicit FakeKeyboard(const std::string& displayName);
    ~FakeKeyboard();
    FakeKeyboard(const FakeKeyboard&) = delete;
    FakeKeyboard& operator=(const FakeKeyboard&) = delete;

    void press(Keysym keysym);
    void release(Keysym keysym);
    void tap(Keysym keysym);
    // Presses and releases a mouse button (4 and 5 are the wheel).
    void click(unsigned button);
    bool isDown(Keysym keysym) const;
    unsigned keycodeOf(Keysym keysym) const;
    _XDisplay* display() const { return display_; }

private:
    _XDisplay* display_;
};

// A plain X window of the test's own, on a connection of its own: it carries a title and a
// _NET_WM_PID, and keeps the key presses it receives.
class TestWindow {
public:
    struct Key {
        Keysym keysym = 0;
        unsigned state = 0;
        bool operator==(const Key&) const = default;
    };

    TestWindow(const std::string& displayName, const std::string& title, int pid);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    unsigned long id() const { return window_; }
    // Handles what has arrived; true when the window is mapped (and viewable).
    void dispatch();
    bool isMapped() const { return mapped_; }
    bool hasFocus() const { return focused_; }
    void takeFocus();
    const std::vector<Key>& presses() const { return presses_; }
    const std::vector<unsigned>& pressedKeycodes() const { return pressedKeycodes_; }
    int keyReleases() const { return releases_; }
    int fd() const;
    void destroy();

private:
    _XDisplay* display_;
    unsigned long window_ = 0;
    bool mapped_ = false;
    bool focused_ = false;
    std::vector<Key> presses_;
    std::vector<unsigned> pressedKeycodes_;
    int releases_ = 0;
};

// Runs TestWindow::dispatch through the pump.
class WindowSource final : public platform::input::XEventSource {
public:
    explicit WindowSource(TestWindow& window) : window_(window) {}
    int fd() const override { return window_.fd(); }
    void dispatch() override { window_.dispatch(); }
    bool hasQueuedEvents() const override { return false; }

private:
    TestWindow& window_;
};

// Waits until `window` is mapped, then gives it the keyboard focus and waits for that.
bool mapAndFocus(TestWindow& window);

} // namespace inputtests
