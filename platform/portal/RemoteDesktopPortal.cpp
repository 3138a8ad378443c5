#include "platform/portal/RemoteDesktopPortal.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform::portal {

namespace {

constexpr const char* remoteDesktopInterface = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* clipboardInterface = "org.freedesktop.portal.Clipboard";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";

constexpr uint keyboardDevice = 1;
constexpr uint persistUntilRevoked = 2;

const QStringList& textTypes()
{
    static const QStringList types {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("text/plain"),
                                    QStringLiteral("UTF8_STRING"), QStringLiteral("STRING"), QStringLiteral("TEXT")};
    return types;
}

QString what()
{
    return QStringLiteral("the desktop's remote keyboard");
}

QDBusMessage methodCall(const QString& interface, const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(desktopService), QString::fromLatin1(desktopPath),
                                                       interface, method);
    call.setArguments(arguments);
    return call;
}

} // namespace

// Writes one clipboard transfer into the pipe the desktop handed over, as fast as the reader takes it.
class RemoteDesktopPortal::Writer {
public:
    Writer(int fd, QByteArray data, std::function<void(bool)> done)
        : fd_(fd)
        , data_(std::move(data))
        , done_(std::move(done))
        , notifier_(fd, QSocketNotifier::Write)
    {
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { write(); });
    }
    ~Writer()
    {
        ::close(fd_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

private:
    void write()
    {
        while (written_ < data_.size()) {
            const ssize_t count = ::write(fd_, data_.constData() + written_, size_t(data_.size() - written_));
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0 && errno == EAGAIN) {
                return;
            }
            if (count <= 0) {
                finish(false);
                return;
            }
            written_ += count;
        }
        finish(true);
    }
    void finish(bool success)
    {
        notifier_.setEnabled(false);
        // `done` destroys this writer.
        auto done = std::move(done_);
        done(success);
    }

    int fd_;
    QByteArray data_;
    qsizetype written_ = 0;
    std::function<void(bool)> done_;
    QSocketNotifier notifier_;
};

RemoteDesktopPortal::RemoteDesktopPortal(QDBusConnection bus, Schedule schedule, Handlers handlers, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , schedule_(std::move(schedule))
    , handlers_(std::move(handlers))
    , session_(bus_)
{
}

RemoteDesktopPortal::~RemoteDesktopPortal()
{
    close();
}

void RemoteDesktopPortal::call(const QString& interface, const QString& method, QVariantList arguments,
                               std::function<void(const PortalAnswer&)> then, std::chrono::milliseconds limit)
{
    const quint64 attempt = attempt_;
    PortalRequest::send(bus_, interface, method, std::move(arguments), limit, schedule_, this,
                        [this, attempt, then = std::move(then)](const PortalAnswer& answer) {
        if (attempt != attempt_) {
            return;
        }
        if (!answer.isGranted()) {
            fail(answer.describe(what()));
            return;
        }
        then(answer);
    });
}

void RemoteDesktopPortal::start(const QString& restoreToken, bool withClipboard)
{
    close();
    const QString interface = QString::fromLatin1(remoteDesktopInterface);
    const QVariantMap options {{QStringLiteral("session_handle_token"), PortalRequest::newToken()}};
    call(interface, QStringLiteral("CreateSession"), {options}, [this, interface, restoreToken, withClipboard](const PortalAnswer& answer) {
        if (!session_.open(answer.results)) {
            fail(what() + QStringLiteral(" gave no session"));
            return;
        }
        session_.follow(sessionInterface, QStringLiteral("Closed"), this, SLOT(onSessionClosed(QVariantMap)), true);
        session_.follow(clipboardInterface, QStringLiteral("SelectionTransfer"), this,
                        SLOT(onSelectionTransfer(QDBusObjectPath, QString, uint)));
        QVariantMap devices {{QStringLiteral("types"), keyboardDevice}, {QStringLiteral("persist_mode"), persistUntilRevoked}};
        if (!restoreToken.isEmpty()) {
            devices.insert(QStringLiteral("restore_token"), restoreToken);
        }
        const QVariant session = QVariant::fromValue(QDBusObjectPath(session_.path()));
        call(interface, QStringLiteral("SelectDevices"), {session, devices}, [this, interface, session, withClipboard](const PortalAnswer&) {
            const auto startSession = [this, interface, session] {
                call(interface, QStringLiteral("Start"), {session, QString(), QVariantMap {}}, [this](const PortalAnswer& answer) {
                    const uint devices = answer.results.value(QStringLiteral("devices")).toUInt();
                    if ((devices & keyboardDevice) == 0) {
                        fail(what() + QStringLiteral(" was not lent"));
                        return;
                    }
                    started_ = true;
                    clipboard_ = answer.results.value(QStringLiteral("clipboard_enabled")).toBool();
                    const QString token = answer.results.value(QStringLiteral("restore_token")).toString();
                    if (!token.isEmpty() && handlers_.onRestoreToken) {
                        handlers_.onRestoreToken(token);
                    }
                    if (handlers_.onStarted) {
                        handlers_.onStarted(clipboard_);
                    }
                }, startLimit);
            };
            if (!withClipboard) {
                startSession();
                return;
            }
            // The clipboard is asked for before the start; a desktop without it still lends the keyboard.
            auto* watcher = new QDBusPendingCallWatcher(
                bus_.asyncCall(methodCall(QString::fromLatin1(clipboardInterface), QStringLiteral("RequestClipboard"),
                                          {session, QVariantMap {}}), int(sessionLimit.count())), this);
            const quint64 attempt = attempt_;
            connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, attempt, startSession] {
                watcher->deleteLater();
                if (attempt == attempt_) {
                    startSession();
                }
            });
        }, sessionLimit);
    }, sessionLimit);
}

void RemoteDesktopPortal::close()
{
    ++attempt_;
    started_ = false;
    clipboard_ = false;
    writers_.clear();
    session_.close();
}

void RemoteDesktopPortal::fail(const QString& reason)
{
    close();
    if (handlers_.onFailed) {
        handlers_.onFailed(reason);
    }
}

void RemoteDesktopPortal::onSessionClosed(const QVariantMap&)
{
    // The user revoked the permission, or the portal went away.
    session_.close(false);
    fail(what() + QStringLiteral(" was withdrawn by the desktop"));
}

void RemoteDesktopPortal::sendKeysym(int keysym, bool pressed)
{
    if (!started_) {
        return;
    }
    bus_.send(methodCall(QString::fromLatin1(remoteDesktopInterface), QStringLiteral("NotifyKeyboardKeysym"),
                              {QVariant::fromValue(QDBusObjectPath(session_.path())), QVariantMap {}, keysym, uint(pressed ? 1 : 0)}));
}

void RemoteDesktopPortal::setClipboardText(const QString& text)
{
    if (!started_ || !clipboard_) {
        return;
    }
    selection_ = text.toUtf8();
    bus_.send(methodCall(QString::fromLatin1(clipboardInterface), QStringLiteral("SetSelection"),
                              {QVariant::fromValue(QDBusObjectPath(session_.path())), QVariantMap {{QStringLiteral("mime_types"), textTypes()}}}));
}

void RemoteDesktopPortal::onSelectionTransfer(const QDBusObjectPath& session, const QString& mimeType, uint serial)
{
    if (session.path() != session_.path() || !started_) {
        return;
    }
    if (!textTypes().contains(mimeType)) {
        notifyWriteDone(serial, false);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(methodCall(QString::fromLatin1(clipboardInterface), QStringLiteral("SelectionWrite"),
                                  {QVariant::fromValue(session), serial}), int(sessionLimit.count())), this);
    const quint64 attempt = attempt_;
    const QByteArray data = selection_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, attempt, serial, data] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (attempt != attempt_ || reply.isError() || !reply.value().isValid()) {
            return;
        }
        const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            notifyWriteDone(serial, false);
            return;
        }
        writers_[serial] = std::make_unique<Writer>(fd, data, [this, serial](bool success) {
            notifyWriteDone(serial, success);
            // Not from inside the writer's own notifier call.
            QMetaObject::invokeMethod(this, [this, serial] { writers_.erase(serial); }, Qt::QueuedConnection);
        });
    });
}

void RemoteDesktopPortal::notifyWriteDone(uint serial, bool success)
{
    bus_.send(methodCall(QString::fromLatin1(clipboardInterface), QStringLiteral("SelectionWriteDone"),
                              {QVariant::fromValue(QDBusObjectPath(session_.path())), serial, success}));
}

} // namespace platform::portal
