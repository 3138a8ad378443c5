#include "app/dictation/InputBackends.hpp"
#include "app/dictation/PortalClipboard.hpp"
#include "app/dictation/PortalHotkeyInput.hpp"
#include "app/dictation/PortalPasteInput.hpp"
#include "app/dictation/PortalTriggerInput.hpp"
#include "platform/portal/PortalProbe.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QDBusConnection>

namespace parlino {

namespace {

// The typing backend's stand-in: the session it types through is shared with the clipboard.
class SharedPortalPasteInput final : public PasteInput {
public:
    explicit SharedPortalPasteInput(std::shared_ptr<PortalPasteInput> session)
        : session_(std::move(session))
    {
    }

    std::optional<platform::input::FrontWindow> frontmost() override { return session_->frontmost(); }
    bool activate(platform::input::WindowId window) override { return session_->activate(window); }
    unsigned heldModifiers() override { return session_->heldModifiers(); }
    void postPaste() override { session_->postPaste(); }
    void postReturn() override { session_->postReturn(); }

private:
    std::shared_ptr<PortalPasteInput> session_;
};

} // namespace

// The desktop's portals on the session bus: its global shortcuts for the triggers and the hotkey,
// its remote desktop keyboard for typing and that session's clipboard.
void registerPortalBackends(InputBackends& backends)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Asked now, so that the answers are in when a job first chooses.
    auto* shortcuts = new platform::portal::PortalProbe(bus, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"));
    auto* remoteDesktop = new platform::portal::PortalProbe(bus, QStringLiteral("org.freedesktop.portal.RemoteDesktop"));
    auto* clipboard = new platform::portal::PortalProbe(bus, QStringLiteral("org.freedesktop.portal.Clipboard"));
    const std::string shortcutsGrant = "Allow Parlino's shortcuts when the desktop asks, or set them in its keyboard shortcut settings";

    backends.addTriggers({"global shortcuts portal", InputBackends::Rank::globalShortcutsPortal,
                          [shortcuts] { return shortcuts->missing(); },
                          [bus] { return std::make_unique<PortalTriggerInput>(bus, SystemClock::shared()); }, shortcutsGrant});
    backends.addHotkey({"global shortcuts portal", InputBackends::Rank::globalShortcutsPortal,
                        [shortcuts] { return shortcuts->missing(); },
                        [bus] { return std::make_unique<PortalHotkeyInput>(bus, SystemClock::shared()); }, shortcutsGrant});

    auto session = std::make_shared<std::shared_ptr<PortalPasteInput>>();
    const auto shared = [bus, session, clipboard] {
        if (!*session) {
            *session = std::make_shared<PortalPasteInput>(bus, SystemClock::shared(), platform::UserDefaults::standard(),
                                                          clipboard->missing().empty());
        }
        return *session;
    };
    const std::string keyboardGrant = "Allow Parlino to control the keyboard when the desktop asks";
    backends.addTyping({"remote desktop portal", InputBackends::Rank::remoteDesktopPortal,
                        [remoteDesktop] { return remoteDesktop->missing(); },
                        [shared] { return std::make_unique<SharedPortalPasteInput>(shared()); }, keyboardGrant});
    backends.addClipboard({"clipboard portal", InputBackends::Rank::clipboardPortal,
                           [remoteDesktop, clipboard] {
                               const std::string missing = remoteDesktop->missing();
                               return missing.empty() ? clipboard->missing() : missing;
                           },
                           [shared] { return std::make_unique<PortalClipboard>(shared(), std::make_unique<SystemClipboard>()); },
                           keyboardGrant});
}

} // namespace parlino
