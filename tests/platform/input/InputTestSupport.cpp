#include "platform/input/InputTestSupport.hpp"

#include "platform/input/ErrorTrap.hpp"
#include "platform/input/KeyboardLayout.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <poll.h>
#include <stdexcept>

namespace inputtests {

bool pumpUntil(std::initializer_list<platform::input::XEventSource*> sources, const std::function<bool()>& done,
               std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (auto* source : sources) {
            source->dispatch();
        }
        if (done()) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        std::vector<pollfd> readable;
        for (auto* source : sources) {
            readable.push_back({source->fd(), POLLIN, 0});
        }
        // Short, so that work queued inside Xlib (not on the socket) is looked at again soon.
        ::poll(readable.data(), readable.size(), static_cast<int>(std::min<long>(left.count(), 50)));
    }
}

std::unique_ptr<testsupport::XvfbTestServer> startServer(testsupport::XvfbTestServer::Options options)
{
    std::string whyNot;
    auto server = testsupport::XvfbTestServer::start(whyNot, options);
    if (!server) {
        ADD_FAILURE_AT(__FILE__, __LINE__) << "no X server: " << whyNot;
    }
    return server;
}

FakeKeyboard::FakeKeyboard(const std::string& displayName)
    : display_(XOpenDisplay(displayName.c_str()))
{
    if (!display_) {
        throw std::runtime_error("cannot open " + displayName);
    }
}

FakeKeyboard::~FakeKeyboard()
{
    XCloseDisplay(display_);
}

unsigned FakeKeyboard::keycodeOf(Keysym keysym) const
{
    const auto codes = platform::input::KeyboardLayout::keycodesFor(display_, keysym);
    if (codes.empty()) {
        throw std::runtime_error("no key for keysym " + std::to_string(keysym));
    }
    return codes.front();
}

void FakeKeyboard::press(Keysym keysym)
{
    XTestFakeKeyEvent(display_, keycodeOf(keysym), True, CurrentTime);
    XSync(display_, False);
}

void FakeKeyboard::release(Keysym keysym)
{
    XTestFakeKeyEvent(display_, keycodeOf(keysym), False, CurrentTime);
    XSync(display_, False);
}

void FakeKeyboard::tap(Keysym keysym)
{
    press(keysym);
    release(keysym);
}

void FakeKeyboard::click(unsigned button)
{
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

bool FakeKeyboard::isDown(Keysym keysym) const
{
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    const auto code = keycodeOf(keysym);
    return (keys[code / 8] & (1 << (code % 8))) != 0;
}

TestWindow::TestWindow(const std::string& displayName, const std::string& title, int pid)
    : display_(XOpenDisplay(displayName.c_str()))
{
    if (!display_) {
        throw std::runtime_error("cannot open " + displayName);
    }
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 200, 100, 0, 0, 0);
    XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask);
    XStoreName(display_, window_, title.c_str());
    const long pidValue = pid;
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pidValue), 1);
    XWMHints hints {};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(display_, window_, &hints);
    XMapWindow(display_, window_);
    XSync(display_, False);
}

TestWindow::~TestWindow()
{
    XCloseDisplay(display_);
}

int TestWindow::fd() const
{
    return ConnectionNumber(display_);
}

void TestWindow::dispatch()
{
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        switch (event.type) {
        case MapNotify:
            mapped_ = true;
            break;
        case UnmapNotify:
            mapped_ = false;
            break;
        case FocusIn:
            focused_ = true;
            break;
        case FocusOut:
            focused_ = false;
            break;
        case KeyPress:
            presses_.push_back({static_cast<Keysym>(XLookupKeysym(&event.xkey, 0)), event.xkey.state});
            pressedKeycodes_.push_back(event.xkey.keycode);
            break;
        case KeyRelease:
            ++releases_;
            break;
        default:
            break;
        }
    }
}

void TestWindow::takeFocus()
{
    platform::input::ErrorTrap trap(display_);
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    trap.sync();
}

void TestWindow::destroy()
{
    XDestroyWindow(display_, window_);
    XSync(display_, False);
    mapped_ = false;
}

bool mapAndFocus(TestWindow& window)
{
    WindowSource events(window);
    if (!pumpUntil({&events}, [&] { return window.isMapped(); })) {
        return false;
    }
    window.takeFocus();
    return pumpUntil({&events}, [&] { return window.hasFocus(); });
}

} // namespace inputtests
