#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <vector>

namespace platform::portal {

// A portal session's handle and the signals followed while it lasts. Closing it stops following them
// and tells the portal, unless the portal ended the session itself.
class PortalSession {
public:
    explicit PortalSession(QDBusConnection bus);
    ~PortalSession();
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    // Takes the handle out of a CreateSession answer; false when it has none.
    bool open(const QVariantMap& results);
    bool isOpen() const { return !path_.isEmpty(); }
    const QString& path() const { return path_; }

    // Follows a signal of the portal's main object, or of the session's own when `onSession`.
    void follow(const char* interface, const QString& name, QObject* receiver, const char* slot, bool onSession = false);
    void close(bool tellPortal = true);

private:
    struct Followed {
        QString path;
        QString interface;
        QString name;
        QObject* receiver;
        const char* slot;
    };

    QDBusConnection bus_;
    QString path_;
    std::vector<Followed> followed_;
};

} // namespace platform::portal
