#include "XDesktop.hpp"

// Before Xlib, whose macros (Status, Bool) clash with Qt's names.
#include <QImage>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace testsupport {

namespace {

constexpr long systemTrayRequestDock = 0;
constexpr int trayIconSide = 24;
constexpr unsigned long keyTapGap = 30; // milliseconds

std::vector<unsigned long> windowList(Display* display, Window window, const char* property)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 4096, False, AnyPropertyType,
            &type, &format, &count, &after, &data)
            == Success
        && data && format == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
    }
    if (data) {
        XFree(data);
    }
    return values;
}

// Errors about windows that went away between listing and asking are expected here.
int ignoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

std::unique_ptr<XDesktop> XDesktop::connect(const std::string& displayName, std::string& whyNot)
{
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display) {
        whyNot = "cannot connect to the X server at " + displayName;
        return nullptr;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        whyNot = "the X server at " + displayName + " has no XTEST";
        return nullptr;
    }
    std::unique_ptr<XDesktop> desktop(new XDesktop());
    desktop->display_ = display;
    return desktop;
}

XDesktop::~XDesktop()
{
    if (tray_) {
        XDestroyWindow(display_, tray_);
    }
    XCloseDisplay(display_);
}

void XDesktop::click(int x, int y, int button)
{
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display_, static_cast<unsigned>(button), True, CurrentTime);
    XTestFakeButtonEvent(display_, static_cast<unsigned>(button), False, CurrentTime);
    XSync(display_, False);
}

void XDesktop::tapKey(const std::string& keysymName)
{
    const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysymName.c_str()));
    // A press stamped with the same server time as the release before it is taken for the
    // keyboard's auto-repeat; the server holds each press back a little so that taps stay taps.
    XTestFakeKeyEvent(display_, code, True, keyTapGap);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
}

void XDesktop::typeText(const std::string& text)
{
    for (const char c : text) {
        tapKey(c == ' ' ? std::string("space") : std::string(1, c));
    }
}

void XDesktop::pressKey(const std::string& keysymName)
{
    XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, XStringToKeysym(keysymName.c_str())), True, CurrentTime);
    XSync(display_, False);
}

void XDesktop::releaseKey(const std::string& keysymName, std::chrono::milliseconds after)
{
    XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, XStringToKeysym(keysymName.c_str())), False,
        static_cast<unsigned long>(after.count()));
    XSync(display_, False);
}

void XDesktop::scroll(int x, int y, int steps)
{
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    const unsigned button = steps < 0 ? 4 : 5;
    for (int step = 0; step < std::abs(steps); ++step) {
        XTestFakeButtonEvent(display_, button, True, CurrentTime);
        XTestFakeButtonEvent(display_, button, False, CurrentTime);
    }
    XSync(display_, False);
}

QImage XDesktop::capture(const Rect& area)
{
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), area.x, area.y,
        static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (!image) {
        return {};
    }
    // The channels as the visual's masks place them, whatever the server's byte order.
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<int>(((pixel >> shift) & mask) * 255 / (mask ? mask : 1));
    };
    QImage picture(area.width, area.height, QImage::Format_RGB32);
    for (int y = 0; y < area.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < area.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            line[x] = qRgb(channel(pixel, image->red_mask), channel(pixel, image->green_mask), channel(pixel, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return picture;
}

std::optional<XDesktop::Rect> XDesktop::windowPlace(unsigned long window)
{
    const auto previous = XSetErrorHandler(ignoreErrors);
    XWindowAttributes attributes {};
    int x = 0;
    int y = 0;
    Window child = 0;
    std::optional<Rect> place;
    if (XGetWindowAttributes(display_, window, &attributes)
        && XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child)) {
        place = Rect {x, y, attributes.width, attributes.height};
    }
    XSync(display_, False);
    XSetErrorHandler(previous);
    return place;
}

unsigned long XDesktop::windowOfProcess(int pid)
{
    const auto previous = XSetErrorHandler(ignoreErrors);
    unsigned long found = 0;
    for (const unsigned long window : windowList(display_, DefaultRootWindow(display_), "_NET_CLIENT_LIST")) {
        const auto pids = windowList(display_, window, "_NET_WM_PID");
        if (!pids.empty() && static_cast<int>(pids.front()) == pid) {
            found = window;
            break;
        }
    }
    XSync(display_, False);
    XSetErrorHandler(previous);
    return found;
}

unsigned long XDesktop::activeWindow()
{
    const auto active = windowList(display_, DefaultRootWindow(display_), "_NET_ACTIVE_WINDOW");
    return active.empty() ? 0 : active.front();
}

void XDesktop::closeWindow(unsigned long window)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
}

bool XDesktop::isViewable(unsigned long window)
{
    const auto previous = XSetErrorHandler(ignoreErrors);
    XWindowAttributes attributes {};
    const bool viewable = XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
    XSync(display_, False);
    XSetErrorHandler(previous);
    return viewable;
}

bool XDesktop::becomeSystemTray()
{
    const int screen = DefaultScreen(display_);
    const Atom selection = XInternAtom(display_, ("_NET_SYSTEM_TRAY_S" + std::to_string(screen)).c_str(), False);
    if (XGetSelectionOwner(display_, selection) != None) {
        return false;
    }
    // Kept out of the window manager's hands, in the screen's top left corner.
    XSetWindowAttributes attributes {};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display_, screen);
    tray_ = XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, trayIconSide * 4, trayIconSide, 0,
        CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    const long horizontal = 0;
    XChangeProperty(display_, tray_, XInternAtom(display_, "_NET_SYSTEM_TRAY_ORIENTATION", False), XA_CARDINAL, 32,
        PropModeReplace, reinterpret_cast<const unsigned char*>(&horizontal), 1);
    XMapRaised(display_, tray_);
    XSetSelectionOwner(display_, selection, tray_, CurrentTime);
    if (XGetSelectionOwner(display_, selection) != tray_) {
        return false;
    }
    XEvent manager {};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = DefaultRootWindow(display_);
    manager.xclient.message_type = XInternAtom(display_, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = CurrentTime;
    manager.xclient.data.l[1] = static_cast<long>(selection);
    manager.xclient.data.l[2] = static_cast<long>(tray_);
    XSendEvent(display_, DefaultRootWindow(display_), False, StructureNotifyMask, &manager);
    XSync(display_, False);
    return true;
}

std::optional<XDesktop::Rect> XDesktop::waitForTrayIcon(std::chrono::milliseconds timeout)
{
    const Atom opcode = XInternAtom(display_, "_NET_SYSTEM_TRAY_OPCODE", False);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != ClientMessage || event.xclient.message_type != opcode
                || event.xclient.data.l[1] != systemTrayRequestDock) {
                continue;
            }
            const auto icon = static_cast<Window>(event.xclient.data.l[2]);
            XReparentWindow(display_, icon, tray_, 0, 0);
            XResizeWindow(display_, icon, trayIconSide, trayIconSide);
            XMapRaised(display_, icon);
            XSync(display_, False);
            return Rect {0, 0, trayIconSide, trayIconSide};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable {ConnectionNumber(display_), POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(std::max<long>(1, left.count())));
    }
    return std::nullopt;
}

} // namespace testsupport
