#pragma once

#include "platform/portal/PortalRequest.hpp"
#include "platform/portal/PortalSession.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace platform::portal {

// One entry of the shortcut lists the portal passes both ways, a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;   // "description", "preferred_trigger"; back from the portal "trigger_description"
};
using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);
// Makes PortalShortcutList known to Qt D-Bus; safe to call more than once.
void registerShortcutTypes();

// Shortcuts bound through the desktop's own shortcut settings
// (org.freedesktop.portal.GlobalShortcuts): a session is created, the shortcuts are bound (the
// desktop may ask the user), and from then on their presses arrive as Activated and, where the
// desktop sees releases, Deactivated. Every step is asynchronous and has a time limit; a portal that
// is missing, says no or stays silent ends in onFailed with a phrase for the settings status.
class GlobalShortcutsPortal final : public QObject {
    Q_OBJECT

public:
    struct Shortcut {
        QString id;
        QString description;
        QString preferredTrigger;   // e.g. "CTRL+ALT+d"; empty leaves the choice to the user
    };
    struct Bound {
        QString id;
        QString triggerDescription;   // how the desktop shows what it bound; may be empty
    };
    struct Handlers {
        std::function<void(const QList<Bound>&)> onBound;
        std::function<void(const QString& id, quint64 timestampMs)> onActivated;
        std::function<void(const QString& id, quint64 timestampMs)> onDeactivated;
        // After it, the session is gone; bind() starts a new one.
        std::function<void(const QString& reason)> onFailed;
    };

    // How long a step may wait: creating the session, and binding, where the desktop may ask the user.
    static constexpr std::chrono::milliseconds sessionLimit {10'000};
    static constexpr std::chrono::milliseconds bindLimit {120'000};

    GlobalShortcutsPortal(QDBusConnection bus, Schedule schedule, Handlers handlers, QObject* parent = nullptr);
    ~GlobalShortcutsPortal() override;

    // Binds `shortcuts` in a new session in place of the running one.
    void bind(QList<Shortcut> shortcuts);
    // Closes the session; no handler runs after it.
    void close();
    bool isBound() const { return bound_; }

private slots:
    void onActivatedSignal(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap& options);
    void onDeactivatedSignal(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap& options);
    void onSessionClosed(const QVariantMap& details);

private:
    void bindInSession(quint64 attempt);
    void fail(const QString& reason);

    QDBusConnection bus_;
    Schedule schedule_;
    Handlers handlers_;
    QList<Shortcut> shortcuts_;
    PortalSession session_;
    quint64 attempt_ = 0;
    bool bound_ = false;
};

} // namespace platform::portal

Q_DECLARE_METATYPE(platform::portal::PortalShortcut)
