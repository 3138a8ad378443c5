#include "platform/input/KeySynthesizer.hpp"

#include "platform/input/ErrorTrap.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/KeyboardLayout.hpp"
#include "platform/input/XConnection.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace platform::input {

namespace {
constexpr unsigned heldModifierMask = modifier::shift | modifier::control | modifier::mod1 | modifier::mod3
                                      | modifier::mod4 | modifier::mod5;
} // namespace

KeySynthesizer::KeySynthesizer(const std::string& displayName)
    : connection_(std::make_unique<XConnection>(displayName))
{
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(connection_->display(), &event, &error, &major, &minor)) {
        throw InputError("the X server has no XTEST extension");
    }
}

KeySynthesizer::~KeySynthesizer() = default;

unsigned KeySynthesizer::keycodeFor(Keysym keysym, const char* name)
{
    const auto codes = KeyboardLayout::keycodesFor(connection_->display(), keysym);
    if (codes.empty()) {
        throw InputError(std::string("the keyboard layout has no ") + name + " key");
    }
    return codes.front();
}

void KeySynthesizer::postPaste()
{
    tap(keycodeFor(keysym::v, "V"), keycodeFor(keysym::controlLeft, "Control"));
}

void KeySynthesizer::postReturn()
{
    tap(keycodeFor(keysym::returnKey, "Return"), 0);
}

void KeySynthesizer::tap(unsigned keycode, unsigned modifierKeycode)
{
    auto* display = connection_->display();
    ErrorTrap trap(display);
    // All four requests go out together, releases included, so a refused press cannot leave a key down.
    if (modifierKeycode) {
        XTestFakeKeyEvent(display, modifierKeycode, True, CurrentTime);
    }
    XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, keycode, False, releaseDelayMilliseconds);
    if (modifierKeycode) {
        XTestFakeKeyEvent(display, modifierKeycode, False, CurrentTime);
    }
    if (const auto error = trap.sync()) {
        throw InputError("the X server refused a synthetic key: " + error->text);
    }
    if (connection_->isBroken()) {
        throw InputError("the connection to the X server was lost");
    }
}

unsigned KeySynthesizer::heldModifiers() const
{
    XkbStateRec state {};
    if (connection_->isBroken() || XkbGetState(connection_->display(), XkbUseCoreKbd, &state) != Success) {
        return 0;
    }
    return state.base_mods & heldModifierMask;
}

} // namespace platform::input
