#include "platform/input/HotkeyGrabber.hpp"

#include "platform/input/ErrorTrap.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/KeyboardLayout.hpp"
#include "platform/input/XConnection.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <algorithm>

namespace platform::input {

HotkeyGrabber::HotkeyGrabber(const std::string& displayName, PressHandler onPressed)
    : connection_(std::make_unique<XConnection>(displayName))
    , onPressed_(std::move(onPressed))
{
    // Without it a held key arrives as release/press pairs; isRepeat() covers servers that refuse.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(connection_->display(), True, &supported);
    detectableRepeat_ = supported == True;
}

HotkeyGrabber::~HotkeyGrabber()
{
    ungrab();
}

HotkeyGrabber::Grab HotkeyGrabber::grabKeys(const Hotkey& hotkey)
{
    auto* display = connection_->display();
    Grab grab {hotkey, KeyboardLayout::keycodesFor(display, hotkey.keysym), {}};
    if (grab.keycodes.empty()) {
        // Keycode 0 would stand for any key: the whole keyboard would be grabbed.
        throw InputError("the keyboard layout has no key for this hotkey");
    }
    const unsigned numLock = KeyboardLayout::modifierMaskFor(display, keysym::numLock);
    const unsigned base = hotkey.modifiers & modifier::all & ~(modifier::lock | numLock);
    for (const unsigned extra : {0u, modifier::lock, numLock, modifier::lock | numLock}) {
        if (std::find(grab.masks.begin(), grab.masks.end(), base | extra) == grab.masks.end()) {
            grab.masks.push_back(base | extra);
        }
    }
    grab.hotkey.modifiers = base;

    const Window root = DefaultRootWindow(display);
    ErrorTrap trap(display);
    for (const auto code : grab.keycodes) {
        for (const auto mask : grab.masks) {
            XGrabKey(display, static_cast<int>(code), mask, root, False, GrabModeAsync, GrabModeAsync);
        }
    }
    if (const auto error = trap.sync()) {
        // Releasing a combination this connection never got leaves the other program's grab alone.
        releaseKeys(grab);
        throw InputError(error->code == BadAccess ? "the key combination is already taken by another program"
                                                  : "the X server refused the hotkey: " + error->text);
    }
    if (connection_->isBroken()) {
        throw InputError("the connection to the X server was lost");
    }
    return grab;
}

void HotkeyGrabber::releaseKeys(const Grab& grab)
{
    auto* display = connection_->display();
    const Window root = DefaultRootWindow(display);
    ErrorTrap trap(display);
    for (const auto code : grab.keycodes) {
        for (const auto mask : grab.masks) {
            XUngrabKey(display, static_cast<int>(code), mask, root);
        }
    }
    trap.sync();
}

void HotkeyGrabber::grab(const Hotkey& hotkey)
{
    if (hotkey_) {
        const unsigned numLock = KeyboardLayout::modifierMaskFor(connection_->display(), keysym::numLock);
        const unsigned base = hotkey.modifiers & modifier::all & ~(modifier::lock | numLock);
        // Grabbing the same combination again would collide with this connection's own grabs.
        if (hotkey_->keysym == hotkey.keysym && hotkey_->modifiers == base) {
            return;
        }
    }
    auto grabbed = grabKeys(hotkey);
    if (hotkey_) {
        releaseKeys(grabbed_);
    }
    grabbed_ = std::move(grabbed);
    hotkey_ = grabbed_.hotkey;
    held_.clear();
}

void HotkeyGrabber::ungrab()
{
    if (!hotkey_) {
        return;
    }
    releaseKeys(grabbed_);
    grabbed_ = {};
    hotkey_.reset();
    held_.clear();
}

int HotkeyGrabber::fd() const
{
    return connection_->fd();
}

bool HotkeyGrabber::hasQueuedEvents() const
{
    return !connection_->isBroken() && XEventsQueued(connection_->display(), QueuedAlready) > 0;
}

bool HotkeyGrabber::isRepeat(const XEvent& release)
{
    auto* display = connection_->display();
    // A release at the same moment as the next press is a repeat only where the server sends repeats
    // as pairs; otherwise two quick real presses would look alike.
    if (detectableRepeat_ || XEventsQueued(display, QueuedAfterReading) == 0) {
        return false;
    }
    XEvent next;
    XPeekEvent(display, &next);
    return next.type == KeyPress && next.xkey.keycode == release.xkey.keycode && next.xkey.time == release.xkey.time;
}

void HotkeyGrabber::dispatch()
{
    auto* display = connection_->display();
    while (!connection_->isBroken() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != KeyPress && event.type != KeyRelease) {
            continue;
        }
        // While the grab is active every key reaches this connection; only the hotkey's is looked at.
        const unsigned code = event.xkey.keycode;
        if (!hotkey_ || std::find(grabbed_.keycodes.begin(), grabbed_.keycodes.end(), code) == grabbed_.keycodes.end()) {
            continue;
        }
        const auto held = std::find(held_.begin(), held_.end(), code);
        if (event.type == KeyRelease) {
            if (held != held_.end() && !isRepeat(event)) {
                held_.erase(held);
            }
            continue;
        }
        if (held != held_.end()) {
            continue;
        }
        if ((event.xkey.state & grabbed_.hotkey.modifiers) != grabbed_.hotkey.modifiers) {
            continue;
        }
        held_.push_back(code);
        if (onPressed_) {
            onPressed_();
        }
    }
}

} // namespace platform::input
