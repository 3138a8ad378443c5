#pragma once

#include "support/ChildProcess.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QDBusConnection>
#include <QString>

#include <memory>

namespace dictationtest {

// A dbus-daemon of the test's own, with a configuration that lets any client own any name, and the
// named connections the test opens to it (closed with the bus).
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon did not start; `failure()` says why.
    const QString& address() const { return address_; }
    const std::string& failure() const { return failure_; }
    QDBusConnection connect(const QString& name);
    void disconnect(const QString& name);

private:
    testsupport::TemporaryDirectory folder_;
    std::unique_ptr<testsupport::ChildProcess> daemon_;
    QString address_;
    std::string failure_;
    QStringList names_;
};

} // namespace dictationtest
