#include "platform/portal/PortalProbe.hpp"

#include "platform/portal/PortalRequest.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace platform::portal {

PortalProbe::PortalProbe(QDBusConnection bus, QString interface, QObject* parent)
    : QObject(parent)
    , interface_(std::move(interface))
{
    if (!bus.isConnected()) {
        answered_ = true;
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), QString::fromLatin1(desktopPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({interface_, QStringLiteral("version")});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get, 10'000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        answered_ = true;
        if (!reply.isError()) {
            version_ = reply.value().variant().toUInt();
        }
    });
}

std::string PortalProbe::missing() const
{
    if (version_) {
        return {};
    }
    const std::string name = interface_.toStdString();
    return answered_ ? name + " is not offered by this desktop" : "the desktop's portal has not said yet whether it offers " + name;
}

} // namespace platform::portal
