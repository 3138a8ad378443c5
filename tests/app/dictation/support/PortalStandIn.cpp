#include "app/dictation/support/PortalStandIn.hpp"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

#include "qtsupport/QtTestSupport.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace dictationtest {

namespace {

const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString prefix = QStringLiteral("org.freedesktop.portal.");

// The methods that answer through a Request object.
bool answersThroughRequest(const QString& method)
{
    static const QStringList methods {
        QStringLiteral("GlobalShortcuts.CreateSession"), QStringLiteral("GlobalShortcuts.BindShortcuts"),
        QStringLiteral("GlobalShortcuts.ListShortcuts"), QStringLiteral("RemoteDesktop.CreateSession"),
        QStringLiteral("RemoteDesktop.SelectDevices"), QStringLiteral("RemoteDesktop.Start")};
    return methods.contains(method);
}

} // namespace

PortalStandIn::PortalStandIn(QDBusConnection bus)
    : bus_(std::move(bus))
{
    serving_ = bus_.registerVirtualObject(desktopPath, this, QDBusConnection::SubPath)
               && bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

PortalStandIn::~PortalStandIn()
{
    bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    bus_.unregisterObject(desktopPath, QDBusConnection::UnregisterTree);
    for (const auto& [serial, fd] : selectionReaders_) {
        ::close(fd);
    }
}

std::vector<QDBusMessage> PortalStandIn::calls(const QString& method) const
{
    std::vector<QDBusMessage> found;
    for (const auto& [name, call] : calls_) {
        if (name == method) {
            found.push_back(call);
        }
    }
    return found;
}

QVariantMap PortalStandIn::options(const QDBusMessage& call, int index)
{
    const QVariant argument = call.arguments().value(index);
    return argument.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(argument.value<QDBusArgument>()) : argument.toMap();
}

QString PortalStandIn::lastSession(const QString& interface) const
{
    const auto found = sessions_.find(interface);
    return found == sessions_.end() ? QString() : found->second;
}

QString PortalStandIn::introspect(const QString&) const
{
    return {};
}

bool PortalStandIn::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage) {
        return false;
    }
    QString interface = message.interface();
    if (interface.startsWith(prefix)) {
        interface = interface.mid(prefix.size());
    }
    const QString method = interface + QLatin1Char('.') + message.member();
    calls_.emplace_back(method, message);

    const auto script = scripts_.find(method);
    Answer answer = script == scripts_.end() ? granted() : script->second(message);
    if (answer.kind == Answer::Kind::error) {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.Failed"), QStringLiteral("scripted failure")));
        return true;
    }

    if (!answersThroughRequest(method)) {
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && message.member() == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(QVariant(1u)))));
            return true;
        }
        if (method == QLatin1String("Clipboard.SelectionWrite")) {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) {
                connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.Failed"), QStringLiteral("no pipe")));
                return true;
            }
            selectionReaders_[message.arguments().value(1).toUInt()] = ends[0];
            connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
            ::close(ends[1]);
            return true;
        }
        connection.send(message.createReply());
        return true;
    }

    // The request object is named after the caller and its token.
    const QVariantMap callOptions = options(message, message.arguments().size() - 1);
    QString sender = message.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString request = desktopPath + QStringLiteral("/request/%1/%2").arg(sender, callOptions.value(QStringLiteral("handle_token")).toString());
    connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    if (answer.kind == Answer::Kind::silent) {
        return true;
    }
    if (message.member() == QLatin1String("CreateSession") && answer.response == 0
        && !answer.results.contains(QStringLiteral("session_handle"))) {
        const QString session = desktopPath + QStringLiteral("/session/%1/%2").arg(sender, callOptions.value(QStringLiteral("session_handle_token")).toString());
        answer.results.insert(QStringLiteral("session_handle"), session);
        sessions_[interface] = session;
    }
    QVariantMap results;
    for (auto entry = answer.results.cbegin(); entry != answer.results.cend(); ++entry) {
        results.insert(entry.key(), entry.value());
    }
    emitSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), {answer.response, results});
    return true;
}

void PortalStandIn::emitSignal(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    bus_.send(signal);
}

void PortalStandIn::sendActivated(const QString& session, const QString& id, quint64 timestamp)
{
    emitSignal(desktopPath, prefix + QStringLiteral("GlobalShortcuts"), QStringLiteral("Activated"),
               {QVariant::fromValue(QDBusObjectPath(session)), id, QVariant::fromValue(qulonglong(timestamp)), QVariantMap {}});
}

void PortalStandIn::sendDeactivated(const QString& session, const QString& id, quint64 timestamp)
{
    emitSignal(desktopPath, prefix + QStringLiteral("GlobalShortcuts"), QStringLiteral("Deactivated"),
               {QVariant::fromValue(QDBusObjectPath(session)), id, QVariant::fromValue(qulonglong(timestamp)), QVariantMap {}});
}

void PortalStandIn::sendSessionClosed(const QString& session)
{
    emitSignal(session, prefix + QStringLiteral("Session"), QStringLiteral("Closed"), {QVariantMap {}});
}

void PortalStandIn::sendSelectionTransfer(const QString& session, const QString& mimeType, uint serial)
{
    emitSignal(desktopPath, prefix + QStringLiteral("Clipboard"), QStringLiteral("SelectionTransfer"),
               {QVariant::fromValue(QDBusObjectPath(session)), mimeType, serial});
}

QByteArray PortalStandIn::readSelection(uint serial)
{
    const auto reader = selectionReaders_.find(serial);
    if (reader == selectionReaders_.end()) {
        return {};
    }
    // The writer is in this process: read what is there, never wait for more.
    ::fcntl(reader->second, F_SETFL, ::fcntl(reader->second, F_GETFL) | O_NONBLOCK);
    QByteArray data;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(reader->second, buffer, sizeof buffer)) > 0) {
        data.append(buffer, count);
    }
    return data;
}

bool PortalStandIn::sync(QDBusConnection client, std::chrono::milliseconds timeout)
{
    BarrierReceiver receiver;
    const QString path = QStringLiteral("/org/parlino/test");
    const QString interface = QStringLiteral("org.parlino.Test");
    client.connect(QString(), path, interface, QStringLiteral("Barrier"), &receiver, SLOT(reach(qulonglong)));
    // A round trip to the bus makes sure its match rule is in place before the barrier goes out.
    client.interface()->isServiceRegistered(QStringLiteral("org.parlino.Nobody"));
    const quint64 number = ++barriers_;
    emitSignal(path, interface, QStringLiteral("Barrier"), {QVariant::fromValue(qulonglong(number))});
    const bool reached = testsupport::processEventsUntil([&] { return receiver.reached >= number; }, timeout);
    client.disconnect(QString(), path, interface, QStringLiteral("Barrier"), &receiver, SLOT(reach(qulonglong)));
    return reached;
}

} // namespace dictationtest
