#include "platform/portal/PortalSession.hpp"

#include "platform/portal/PortalRequest.hpp"

#include <QDBusMessage>
#include <QDBusObjectPath>

namespace platform::portal {

PortalSession::PortalSession(QDBusConnection bus)
    : bus_(std::move(bus))
{
}

PortalSession::~PortalSession()
{
    close();
}

bool PortalSession::open(const QVariantMap& results)
{
    close();
    // A string by the interfaces' definition, an object path from some portals.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    path_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
    return isOpen();
}

void PortalSession::follow(const char* interface, const QString& name, QObject* receiver, const char* slot, bool onSession)
{
    Followed followed {onSession ? path_ : QString::fromLatin1(desktopPath), QString::fromLatin1(interface), name, receiver, slot};
    bus_.connect(QString::fromLatin1(desktopService), followed.path, followed.interface, followed.name, receiver, slot);
    followed_.push_back(std::move(followed));
}

void PortalSession::close(bool tellPortal)
{
    for (const Followed& followed : followed_) {
        bus_.disconnect(QString::fromLatin1(desktopService), followed.path, followed.interface, followed.name,
                        followed.receiver, followed.slot);
    }
    followed_.clear();
    if (isOpen() && tellPortal) {
        bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), path_,
                                                 QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
    }
    path_.clear();
}

} // namespace platform::portal
