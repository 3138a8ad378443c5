#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

namespace platform::portal {

// Whether the desktop's portal offers an interface, asked once without waiting: the answer (the
// interface's "version" property) arrives later, and until then the interface counts as missing.
class PortalProbe final : public QObject {
    Q_OBJECT

public:
    PortalProbe(QDBusConnection bus, QString interface, QObject* parent = nullptr);

    bool isAnswered() const { return answered_; }
    std::optional<uint> version() const { return version_; }
    // Empty when offered; otherwise what to say, e.g. "org.freedesktop.portal.RemoteDesktop is not offered by this desktop".
    std::string missing() const;

private:
    QString interface_;
    bool answered_ = false;
    std::optional<uint> version_;
};

} // namespace platform::portal
