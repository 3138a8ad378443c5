#include "support/XvfbTestServer.hpp"

#include "platform/input/ErrorTrap.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Reads the display number Xvfb writes to the pipe once it accepts connections.
std::string readDisplayNumber(int fd, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return {};
        }
        pollfd readable {fd, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[64];
        const auto count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return {};
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text.substr(0, text.find('\n'));
}

// The window manager's check window, when one is running and announces itself (EWMH).
bool hasWindowManager(Display* display)
{
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    auto windowIn = [&](Window window) -> Window {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        Window found = 0;
        if (XGetWindowProperty(display, window, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data)
                == Success
            && data && type == XA_WINDOW && format == 32 && count == 1) {
            long value = 0;
            std::memcpy(&value, data, sizeof value);
            found = static_cast<Window>(value);
        }
        if (data) {
            XFree(data);
        }
        return found;
    };
    // The check window may be gone by the time it is read; that is no error here.
    platform::input::ErrorTrap trap(display);
    const Window child = windowIn(DefaultRootWindow(display));
    const bool announced = child != 0 && windowIn(child) == child;
    return !trap.sync() && announced;
}

} // namespace

std::unique_ptr<XvfbTestServer> XvfbTestServer::start(std::string& whyNot, Options options)
{
    if (ChildProcess::findProgram("Xvfb").empty()) {
        whyNot = "the Xvfb program is not installed";
        return nullptr;
    }
    if (options.windowManager && ChildProcess::findProgram("openbox").empty()) {
        whyNot = "the openbox program is not installed";
        return nullptr;
    }
    std::unique_ptr<XvfbTestServer> server(new XvfbTestServer());
    const auto& root = server->directory_.path();
    std::filesystem::create_directories(root / "home" / ".config");
    std::filesystem::create_directories(root / "runtime");
    std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
    int displayPipe[2];
    if (::pipe2(displayPipe, O_CLOEXEC) != 0) {
        whyNot = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    // Xvfb takes the first free display number and tells it on fd 3, so parallel tests never meet.
    std::vector<std::string> arguments {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset",
                                        "-screen", "0", options.screen};
    for (const auto& extension : options.disabledExtensions) {
        arguments.insert(arguments.end(), {"-extension", extension});
    }
    server->server_ = ChildProcess::start(arguments, whyNot, {.environment = {}, .passFd = displayPipe[1]});
    ::close(displayPipe[1]);
    if (!server->server_) {
        ::close(displayPipe[0]);
        return nullptr;
    }
    const auto number = readDisplayNumber(displayPipe[0], options.startTimeout);
    ::close(displayPipe[0]);
    if (number.empty()) {
        whyNot = "Xvfb did not start; its output:\n" + server->server_->output();
        return nullptr;
    }
    server->displayName_ = ":" + number;

    if (options.windowManager) {
        const auto home = root / "home";
        server->windowManager_ = ChildProcess::start(
            {"openbox", "--sm-disable"}, whyNot,
            {.environment = {{"DISPLAY", server->displayName_}, {"HOME", home.string()},
                             {"XDG_CONFIG_HOME", (home / ".config").string()}},
             .passFd = -1});
        if (!server->windowManager_ || !server->waitForWindowManager(options.startTimeout, whyNot)) {
            return nullptr;
        }
    }
    return server;
}

bool XvfbTestServer::waitForWindowManager(std::chrono::milliseconds timeout, std::string& whyNot)
{
    Display* display = XOpenDisplay(displayName_.c_str());
    if (!display) {
        whyNot = "cannot connect to Xvfb at " + displayName_;
        return false;
    }
    // openbox announces itself before it handles windows, and map requests sent during its start-up
    // are lost; so a probe window is mapped (again, while unanswered) until the manager maps it.
    const Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, probe, StructureNotifyMask);
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool managed = false;
    bool announced = false;
    while (!managed && !windowManager_->hasExited()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (!announced && hasWindowManager(display)) {
            announced = true;
            XMapWindow(display, probe);
            XFlush(display);
        }
        if (XPending(display) == 0) {
            pollfd readable {ConnectionNumber(display), POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(std::min<long>(left.count(), 200))) == 0 && announced) {
                XMapWindow(display, probe);
                XFlush(display);
            }
        }
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            managed = managed || (event.type == MapNotify && event.xmap.window == probe);
        }
    }
    XDestroyWindow(display, probe);
    XCloseDisplay(display);
    if (!managed) {
        whyNot = "openbox did not start; its output:\n" + windowManager_->output();
    }
    return managed;
}

XvfbTestServer::~XvfbTestServer()
{
    windowManager_.reset();
    server_.reset();
}

std::vector<std::pair<std::string, std::string>> XvfbTestServer::clientEnvironment() const
{
    return {{"DISPLAY", displayName_}, {"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", "x11"},
            {"QT_QPA_PLATFORM", "xcb"}, {"HOME", (directory_.path() / "home").string()},
            {"XDG_CONFIG_HOME", (directory_.path() / "home" / ".config").string()},
            {"XDG_RUNTIME_DIR", (directory_.path() / "runtime").string()}};
}

std::string XvfbTestServer::log() const
{
    return (server_ ? server_->output() : std::string()) + (windowManager_ ? windowManager_->output() : std::string());
}

} // namespace testsupport
