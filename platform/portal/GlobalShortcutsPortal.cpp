#include "platform/portal/GlobalShortcutsPortal.hpp"

#include <QDBusMessage>
#include <QDBusMetaType>

namespace platform::portal {

namespace {

constexpr const char* shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";

QString what()
{
    return QStringLiteral("the desktop's global shortcuts");
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerShortcutTypes()
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
}

GlobalShortcutsPortal::GlobalShortcutsPortal(QDBusConnection bus, Schedule schedule, Handlers handlers, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , schedule_(std::move(schedule))
    , handlers_(std::move(handlers))
    , session_(bus_)
{
    registerShortcutTypes();
}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    close();
}

void GlobalShortcutsPortal::bind(QList<Shortcut> shortcuts)
{
    close();
    shortcuts_ = std::move(shortcuts);
    const quint64 attempt = attempt_;
    QVariantMap options {{QStringLiteral("session_handle_token"), PortalRequest::newToken()}};
    PortalRequest::send(bus_, QString::fromLatin1(shortcutsInterface), QStringLiteral("CreateSession"), {options},
                        sessionLimit, schedule_, this, [this, attempt](const PortalAnswer& answer) {
        if (attempt != attempt_) {
            return;
        }
        if (!answer.isGranted()) {
            fail(answer.describe(what()));
            return;
        }
        if (!session_.open(answer.results)) {
            fail(what() + QStringLiteral(" gave no session"));
            return;
        }
        session_.follow(shortcutsInterface, QStringLiteral("Activated"), this,
                        SLOT(onActivatedSignal(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        session_.follow(shortcutsInterface, QStringLiteral("Deactivated"), this,
                        SLOT(onDeactivatedSignal(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        session_.follow(sessionInterface, QStringLiteral("Closed"), this, SLOT(onSessionClosed(QVariantMap)), true);
        bindInSession(attempt);
    });
}

void GlobalShortcutsPortal::bindInSession(quint64 attempt)
{
    PortalShortcutList list;
    for (const Shortcut& shortcut : shortcuts_) {
        QVariantMap properties {{QStringLiteral("description"), shortcut.description}};
        if (!shortcut.preferredTrigger.isEmpty()) {
            properties.insert(QStringLiteral("preferred_trigger"), shortcut.preferredTrigger);
        }
        list << PortalShortcut {shortcut.id, properties};
    }
    const QVariantList arguments {QVariant::fromValue(QDBusObjectPath(session_.path())), QVariant::fromValue(list), QString(),
                                  QVariantMap {}};
    PortalRequest::send(bus_, QString::fromLatin1(shortcutsInterface), QStringLiteral("BindShortcuts"), arguments,
                        bindLimit, schedule_, this, [this, attempt](const PortalAnswer& answer) {
        if (attempt != attempt_) {
            return;
        }
        if (!answer.isGranted()) {
            fail(answer.describe(what()));
            return;
        }
        QList<Bound> bound;
        const QVariant shortcuts = answer.results.value(QStringLiteral("shortcuts"));
        if (shortcuts.canConvert<QDBusArgument>()) {
            for (const PortalShortcut& shortcut : qdbus_cast<PortalShortcutList>(shortcuts.value<QDBusArgument>())) {
                bound << Bound {shortcut.id, shortcut.properties.value(QStringLiteral("trigger_description")).toString()};
            }
        }
        bound_ = true;
        if (handlers_.onBound) {
            handlers_.onBound(bound);
        }
    });
}

void GlobalShortcutsPortal::close()
{
    ++attempt_;
    bound_ = false;
    session_.close();
}

void GlobalShortcutsPortal::fail(const QString& reason)
{
    close();
    if (handlers_.onFailed) {
        handlers_.onFailed(reason);
    }
}

void GlobalShortcutsPortal::onActivatedSignal(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                                              const QVariantMap&)
{
    if (bound_ && session.path() == session_.path() && handlers_.onActivated) {
        handlers_.onActivated(id, timestamp);
    }
}

void GlobalShortcutsPortal::onDeactivatedSignal(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                                                const QVariantMap&)
{
    if (bound_ && session.path() == session_.path() && handlers_.onDeactivated) {
        handlers_.onDeactivated(id, timestamp);
    }
}

void GlobalShortcutsPortal::onSessionClosed(const QVariantMap&)
{
    // The desktop ended the session (the user revoked the shortcuts, or the portal restarted).
    session_.close(false);
    fail(what() + QStringLiteral(" were withdrawn by the desktop"));
}

} // namespace platform::portal
