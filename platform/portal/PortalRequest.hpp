#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <functional>

namespace platform::portal {

inline constexpr const char* desktopService = "org.freedesktop.portal.Desktop";
inline constexpr const char* desktopPath = "/org/freedesktop/portal/desktop";

// Runs `action` on the calling thread `delay` from now unless `context` is gone by then. The
// portals' time limits go through it, so that tests end a wait by hand.
using Schedule = std::function<void(std::chrono::milliseconds delay, QObject* context, std::function<void()> action)>;
// Qt's single-shot timers.
Schedule timerSchedule();

// How a portal request ended.
struct PortalAnswer {
    enum class Outcome {
        granted,     // response 0
        cancelled,   // response 1: the user said no
        refused,     // response 2 or a D-Bus error from the portal
        missing,     // no portal, or no such interface or method
        silent,      // no answer within the time limit
    };

    Outcome outcome = Outcome::refused;
    QVariantMap results;
    QString error;   // the D-Bus error text, when there was one

    bool isGranted() const { return outcome == Outcome::granted; }
    // "<what> was declined", "... did not answer", ...: one phrase for the settings status.
    QString describe(const QString& what) const;
};

// One call of a portal method that answers through an org.freedesktop.portal.Request object: the
// handle token is added to the options (the last argument), the Response signal is subscribed
// before the call goes out, and the answer arrives through `done` exactly once, unless `context`
// is destroyed first. Never blocks.
class PortalRequest final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const PortalAnswer&)>;

    static void send(QDBusConnection bus, const QString& interface, const QString& method, QVariantList arguments,
                     std::chrono::milliseconds limit, const Schedule& schedule, QObject* context, Done done);

    // A token for handle_token and session_handle_token options.
    static QString newToken();

private slots:
    void onResponse(uint response, const QVariantMap& results);

private:
    PortalRequest(QDBusConnection bus, QObject* context, Done done);
    void follow(const QString& requestPath);
    void finish(PortalAnswer answer);

    QDBusConnection bus_;
    Done done_;
    QString followed_;
    bool finished_ = false;
};

} // namespace platform::portal
