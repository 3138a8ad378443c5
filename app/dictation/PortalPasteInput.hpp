#pragma once

#include "app/dictation/Clock.hpp"
#include "app/dictation/PasteInput.hpp"
#include "platform/portal/RemoteDesktopPortal.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace parlino {

// Ctrl+V and Return typed through the keyboard the desktop lends over its remote desktop portal.
// The desktop asks the user once; its restore token is kept in the settings store so that later
// starts go through without asking. Keys asked for while the session starts are typed once it runs.
// A session ended or refused fails the next keys with the desktop's reason (so the transcript stays
// on the clipboard) and is started again. The window in front cannot be known or raised by a client here: the paste goes to the
// window that has the focus. Main thread only.
class PortalPasteInput final : public QObject, public PasteInput {
    Q_OBJECT

public:
    static constexpr const char* restoreTokenKey = "remoteDesktopRestoreToken";

    // `withClipboard`: the session's clipboard is asked for as well.
    PortalPasteInput(QDBusConnection bus, Clock& clock, platform::UserDefaults& defaults, bool withClipboard,
                     QObject* parent = nullptr);
    ~PortalPasteInput() override;

    // Starts the session unless one runs or is starting.
    void start();
    bool isReady() const { return portal_.isStarted(); }
    // Why the last start failed; empty while none did or a new one is under way.
    const QString& failure() const { return failure_; }
    platform::portal::RemoteDesktopPortal& portal() { return portal_; }
    // Runs whenever the session starts or fails.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    std::optional<platform::input::FrontWindow> frontmost() override;
    bool activate(platform::input::WindowId window) override;
    unsigned heldModifiers() override;
    void postPaste() override;
    void postReturn() override;
    // Types `text` key by key, for desktops whose clipboard cannot be set from here.
    void typeText(const QString& text);

private:
    // False while the session starts: the keys wait for it. Throws when it failed.
    bool requireSession();
    void tap(std::initializer_list<int> keysyms);
    void send(const std::vector<int>& keysyms);

    platform::UserDefaults& defaults_;
    bool withClipboard_;
    platform::portal::RemoteDesktopPortal portal_;
    std::function<void()> onChange_;
    QString failure_;
    bool starting_ = false;
    // Taps waiting for the session, each its keys in press order.
    std::vector<std::vector<int>> waiting_;
};

} // namespace parlino
