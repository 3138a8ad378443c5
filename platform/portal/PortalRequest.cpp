#include "platform/portal/PortalRequest.hpp"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QUuid>

namespace platform::portal {

namespace {

constexpr const char* requestInterface = "org.freedesktop.portal.Request";

bool isMissing(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

Schedule timerSchedule()
{
    return [](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
        QTimer::singleShot(delay, context, std::move(action));
    };
}

QString PortalAnswer::describe(const QString& what) const
{
    switch (outcome) {
    case Outcome::granted: return what + QStringLiteral(" is ready");
    case Outcome::cancelled: return what + QStringLiteral(" was declined");
    case Outcome::refused:
        return error.isEmpty() ? what + QStringLiteral(" was refused by the desktop")
                               : what + QStringLiteral(" was refused by the desktop: ") + error;
    case Outcome::missing: return what + QStringLiteral(" is not offered by this desktop");
    case Outcome::silent: return what + QStringLiteral(" got no answer from the desktop");
    }
    return what;
}

QString PortalRequest::newToken()
{
    return QStringLiteral("parlino_") + QUuid::createUuid().toString(QUuid::Id128);
}

PortalRequest::PortalRequest(QDBusConnection bus, QObject* context, Done done)
    : QObject(context)
    , bus_(std::move(bus))
    , done_(std::move(done))
{
}

void PortalRequest::send(QDBusConnection bus, const QString& interface, const QString& method, QVariantList arguments,
                         std::chrono::milliseconds limit, const Schedule& schedule, QObject* context, Done done)
{
    auto* request = new PortalRequest(bus, context, std::move(done));
    const QString token = newToken();
    QVariantMap options = arguments.isEmpty() ? QVariantMap {} : arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;

    // The portal names the request object after our unique name and the token; listening before the
    // call means an answer that comes at once is not missed.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    request->follow(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), QString::fromLatin1(desktopPath),
                                                       interface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, int(limit.count())));
    connect(request, &QObject::destroyed, watcher, &QObject::deleteLater);
    connect(watcher, &QDBusPendingCallWatcher::finished, request, [request, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            const QDBusError error = reply.error();
            if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout) {
                request->finish({PortalAnswer::Outcome::silent, {}, {}});
                return;
            }
            request->finish({isMissing(error) ? PortalAnswer::Outcome::missing : PortalAnswer::Outcome::refused, {},
                             error.message()});
            return;
        }
        // Older portals chose the object path themselves.
        request->follow(reply.value().path());
    });
    schedule(limit, request, [request] {
        if (request->finished_) {
            return;
        }
        if (!request->followed_.isEmpty()) {
            request->bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), request->followed_,
                                                                   QString::fromLatin1(requestInterface), QStringLiteral("Close")));
        }
        request->finish({PortalAnswer::Outcome::silent, {}, {}});
    });
}

void PortalRequest::follow(const QString& requestPath)
{
    if (requestPath == followed_ || finished_) {
        return;
    }
    const QString service = QString::fromLatin1(desktopService);
    const QString interface = QString::fromLatin1(requestInterface);
    if (!followed_.isEmpty()) {
        bus_.disconnect(service, followed_, interface, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    }
    followed_ = requestPath;
    bus_.connect(service, followed_, interface, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::onResponse(uint response, const QVariantMap& results)
{
    const auto outcome = response == 0 ? PortalAnswer::Outcome::granted
                         : response == 1 ? PortalAnswer::Outcome::cancelled
                                         : PortalAnswer::Outcome::refused;
    finish({outcome, results, {}});
}

void PortalRequest::finish(PortalAnswer answer)
{
    if (finished_) {
        return;
    }
    finished_ = true;
    bus_.disconnect(QString::fromLatin1(desktopService), followed_, QString::fromLatin1(requestInterface),
                    QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    deleteLater();
    // The answer goes out from the owner's own turn of the event loop, so that its callback may
    // destroy the owner, and this request with it.
    if (QObject* context = parent()) {
        QTimer::singleShot(0, context, [done = std::move(done_), answer = std::move(answer)] { done(answer); });
    }
}

} // namespace platform::portal
