#pragma once

#include "app/ui/DesktopApplications.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QIcon>
#include <QString>

#include <array>
#include <optional>

namespace parlino {

// One AI chat service the detail pane can hand a transcript to.
struct AIApp {
    QString name;
    // The desktop id of the service's desktop application (its "<id>.desktop" file, named the
    // reverse-DNS way application packages name them); none where the table knows no application.
    std::optional<QString> bundleIdentifier;
    // The service's web chat page: https, no query, no fragment.
    QString webURL;
    QString icon;
    // A colour name, turned into a tint by the detail pane.
    QString color;
    std::optional<QString> shortcutName;

    // The six services, in the order of their buttons.
    static const std::array<AIApp, 6>& allApps();

    // The installed desktop application, if there is one.
    std::optional<DesktopEntry> installedApplication() const;
    // That application's icon: its file, or the icon theme's image of that name.
    std::optional<QIcon> installedAppIcon() const;
    // The shortcut name stored for this service, when not empty, else the table's default.
    std::optional<QString> effectiveShortcutName(const platform::UserDefaults& defaults) const;
    // "shortcut_" followed by the name.
    QString shortcutKey() const;
};

} // namespace parlino
