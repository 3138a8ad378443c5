#include "app/dictation/support/PrivateSessionBus.hpp"

#include <chrono>
#include <fstream>

namespace dictationtest {

PrivateSessionBus::PrivateSessionBus()
{
    const auto config = folder_ / "session.conf";
    std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" << folder_.path().string() << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    daemon_ = testsupport::ChildProcess::start(
        {"dbus-daemon", "--config-file=" + config.string(), "--nofork", "--print-address"}, failure_);
    if (!daemon_) {
        return;
    }
    const auto address = daemon_->waitForLine([](const std::string& line) { return line.rfind("unix:", 0) == 0; },
                                              std::chrono::seconds(10));
    if (!address) {
        failure_ = "dbus-daemon printed no address: " + daemon_->output();
        return;
    }
    address_ = QString::fromStdString(*address);
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const QString& name : names_) {
        QDBusConnection::disconnectFromBus(name);
    }
    if (daemon_) {
        daemon_->terminate();
    }
}

QDBusConnection PrivateSessionBus::connect(const QString& name)
{
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

void PrivateSessionBus::disconnect(const QString& name)
{
    names_.removeAll(name);
    QDBusConnection::disconnectFromBus(name);
}

} // namespace dictationtest
