#pragma once

#include "app/ui/design/Color.hpp"

#include <QDBusConnection>
#include <QObject>

class QApplication;
class QDBusMessage;

namespace parlino::design {

// Follows the desktop's light or dark preference and applies the matching theme: the XDG settings
// portal's "org.freedesktop.appearance" "color-scheme" on the session bus (1 dark, 2 light), read
// at start and followed as it changes. Where no portal answers, or it states no preference, the
// colours follow the palette the desktop gave the application at start.
class DesktopAppearance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* portalService = "org.freedesktop.portal.Desktop";
    static constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* settingsInterface = "org.freedesktop.portal.Settings";
    static constexpr const char* appearanceNamespace = "org.freedesktop.appearance";
    static constexpr const char* colorSchemeKey = "color-scheme";

    DesktopAppearance(QApplication& application, QDBusConnection bus = QDBusConnection::sessionBus(),
        QObject* parent = nullptr);

    Appearance appearance() const { return appearance_; }

signals:
    void appearanceChanged(Appearance appearance);

private slots:
    void settingChanged(const QDBusMessage& change);

private:
    void followToolkitScheme();
    void readColorScheme();
    // The portal's value: 1 prefers dark, 2 prefers light, anything else no preference.
    void takeColorScheme(uint scheme);
    void apply(Appearance appearance);

    QApplication& application_;
    QDBusConnection bus_;
    Appearance fallback_;
    Appearance appearance_;
    bool portalAnswered_ = false;
};

} // namespace parlino::design
