#include "app/dictation/PortalHotkeyInput.hpp"

#include "platform/input/Keys.hpp"

#include <X11/Xlib.h>

#include <stdexcept>

namespace parlino {

namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;

PortalHotkeyInput::PortalHotkeyInput(QDBusConnection bus, Clock& clock, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , clock_(clock)
{
}

PortalHotkeyInput::~PortalHotkeyInput() = default;

QString PortalHotkeyInput::triggerOf(platform::input::Keysym key, unsigned xModifiers)
{
    constexpr platform::input::Keysym modifierKeys[] {keysym::shiftLeft, keysym::shiftRight, keysym::controlLeft,
                                                      keysym::controlRight, keysym::capsLock, keysym::altLeft,
                                                      keysym::altRight, keysym::superLeft, keysym::superRight, keysym::altGr};
    for (const auto modifierKey : modifierKeys) {
        if (key == modifierKey) {
            throw std::invalid_argument("a lone modifier key cannot be bound as a desktop shortcut");
        }
    }
    const char* name = XKeysymToString(key);
    if (!name) {
        throw std::invalid_argument("the key has no name a desktop shortcut could use");
    }
    QString trigger;
    for (const auto& [mask, word] : {std::pair {modifier::control, "CTRL"}, std::pair {modifier::mod1, "ALT"},
                                     std::pair {modifier::shift, "SHIFT"}, std::pair {modifier::mod4, "LOGO"}}) {
        if (xModifiers & mask) {
            trigger += QString::fromLatin1(word) + QLatin1Char('+');
        }
    }
    return trigger + QString::fromLatin1(name);
}

void PortalHotkeyInput::grab(platform::input::Keysym key, unsigned xModifiers)
{
    const QString trigger = triggerOf(key, xModifiers);
    failure_.clear();
    portal_ = std::make_unique<platform::portal::GlobalShortcutsPortal>(
        bus_,
        [this](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
            clock_.schedule(delay, context, std::move(action));
        },
        platform::portal::GlobalShortcutsPortal::Handlers {
            .onActivated = [this](const QString& id, quint64) {
                if (id == QLatin1String(shortcutId) && onPressed_) {
                    onPressed_();
                }
            },
            .onFailed = [this](const QString& reason) { failure_ = reason; },
        });
    portal_->bind({{QString::fromLatin1(shortcutId), QStringLiteral("Start or stop recording"), trigger}});
}

void PortalHotkeyInput::ungrab()
{
    portal_.reset();
}

} // namespace parlino
