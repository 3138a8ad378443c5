#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <map>
#include <vector>

namespace dictationtest {

// org.freedesktop.portal.Desktop as the tests script it, serving GlobalShortcuts, RemoteDesktop and
// Clipboard on its own connection: each method answers as its script says (by default granted at
// once, results empty), every call is kept, and the signals a desktop sends are sent on request.
class PortalStandIn final : public QDBusVirtualObject {
    Q_OBJECT

public:
    struct Answer {
        enum class Kind { respond, silent, error };
        Kind kind = Kind::respond;
        uint response = 0;
        QVariantMap results;
    };
    using Script = std::function<Answer(const QDBusMessage& call)>;

    static Answer granted(QVariantMap results = {}) { return {Answer::Kind::respond, 0, std::move(results)}; }
    static Answer answered(uint response) { return {Answer::Kind::respond, response, {}}; }
    static Answer silent() { return {Answer::Kind::silent, 0, {}}; }

    // Registers the service on `bus`; false when the name or the object could not be had.
    explicit PortalStandIn(QDBusConnection bus);
    ~PortalStandIn() override;

    // What `interface`.`method` answers from now on (interface without its "org.freedesktop.portal." part).
    void script(const QString& method, Script script) { scripts_[method] = std::move(script); }
    bool isServing() const { return serving_; }

    // The calls of `method` so far ("GlobalShortcuts.BindShortcuts", "Session.Close", ...).
    std::vector<QDBusMessage> calls(const QString& method) const;
    // The options (the a{sv} argument at `index`) of a call.
    static QVariantMap options(const QDBusMessage& call, int index);
    // The session handle the last CreateSession of `interface` gave.
    QString lastSession(const QString& interface) const;

    void sendActivated(const QString& session, const QString& id, quint64 timestamp);
    void sendDeactivated(const QString& session, const QString& id, quint64 timestamp);
    void sendSessionClosed(const QString& session);
    void sendSelectionTransfer(const QString& session, const QString& mimeType, uint serial);
    // What has been written so far into the pipe SelectionWrite handed out for `serial`.
    QByteArray readSelection(uint serial);
    // Returns once every signal sent before it has been delivered on `client` (signals from one
    // sender arrive in order); false when that took longer than `timeout`.
    bool sync(QDBusConnection client, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void emitSignal(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments);

    QDBusConnection bus_;
    bool serving_ = false;
    std::map<QString, Script> scripts_;
    std::vector<std::pair<QString, QDBusMessage>> calls_;
    std::map<QString, QString> sessions_;
    std::map<uint, int> selectionReaders_;
    quint64 barriers_ = 0;
};

// Counts the barrier signals of PortalStandIn::sync on the client's connection.
class BarrierReceiver final : public QObject {
    Q_OBJECT

public:
    quint64 reached = 0;

public slots:
    void reach(qulonglong number) { reached = number; }
};

} // namespace dictationtest
