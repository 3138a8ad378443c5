#pragma once

#include "platform/portal/PortalRequest.hpp"
#include "platform/portal/PortalSession.hpp"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>

namespace platform::portal {

// A keyboard lent by the desktop (org.freedesktop.portal.RemoteDesktop) and, where the desktop
// offers it, the clipboard of the same session (org.freedesktop.portal.Clipboard). The desktop asks
// the user the first time; the restore token it hands back lets a later start go through without
// asking. Every step is asynchronous and has a time limit; a portal that is missing, says no or stays
// silent ends in onFailed with a phrase for the settings status.
class RemoteDesktopPortal final : public QObject {
    Q_OBJECT

public:
    struct Handlers {
        // The keyboard may be used; `clipboard` says whether the session's clipboard may be set.
        std::function<void(bool clipboard)> onStarted;
        // A token for the next start; keep it.
        std::function<void(const QString& token)> onRestoreToken;
        // After it, the session is gone; start() starts a new one.
        std::function<void(const QString& reason)> onFailed;
    };

    static constexpr std::chrono::milliseconds sessionLimit {10'000};
    // Starting may wait for the user to answer the desktop's question.
    static constexpr std::chrono::milliseconds startLimit {120'000};

    RemoteDesktopPortal(QDBusConnection bus, Schedule schedule, Handlers handlers, QObject* parent = nullptr);
    ~RemoteDesktopPortal() override;

    // Starts a session in place of the running one. `restoreToken` empty: the desktop asks.
    void start(const QString& restoreToken, bool withClipboard);
    void close();
    bool isStarted() const { return started_; }
    bool hasClipboard() const { return clipboard_; }

    // A key by its keysym, pressed or released; sent without waiting for the desktop.
    void sendKeysym(int keysym, bool pressed);
    // Offers `text` as the session's clipboard; the desktop fetches it when something pastes.
    void setClipboardText(const QString& text);

private slots:
    void onSessionClosed(const QVariantMap& details);
    void onSelectionTransfer(const QDBusObjectPath& session, const QString& mimeType, uint serial);

private:
    void call(const QString& interface, const QString& method, QVariantList arguments, std::function<void(const PortalAnswer&)> then,
              std::chrono::milliseconds limit);
    void fail(const QString& reason);
    void notifyWriteDone(uint serial, bool success);

    class Writer;

    QDBusConnection bus_;
    Schedule schedule_;
    Handlers handlers_;
    PortalSession session_;
    quint64 attempt_ = 0;
    bool started_ = false;
    bool clipboard_ = false;
    QByteArray selection_;
    std::map<uint, std::unique_ptr<Writer>> writers_;
};

} // namespace platform::portal
