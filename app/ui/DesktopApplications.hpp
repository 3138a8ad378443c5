#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <vector>

namespace parlino {

// One installed application as its desktop entry file describes it.
struct DesktopEntry {
    // The desktop id: "org.example.App" for "org.example.App.desktop".
    QString id;
    std::filesystem::path path;
    QString name;
    // A theme icon name or an absolute file path; may be empty.
    QString icon;
    // The Exec line with the file's string escapes undone.
    QString exec;
    // The Path key: where the program starts; may be empty.
    QString workingDirectory;
};

// Finds installed applications the way desktop launchers do: a desktop id names the file
// "<id>.desktop" in the "applications" folder of $XDG_DATA_HOME (else ~/.local/share), then of each
// folder of $XDG_DATA_DIRS (else /usr/local/share:/usr/share); the first file found decides, so a
// user's hidden copy hides the system's.
class DesktopApplications {
public:
    static std::vector<std::filesystem::path> applicationFolders();

    // None for an id that is no plain file name, when no file has that id, or when the first one
    // found is hidden, is no application, has no Exec line or names a TryExec program that is
    // not installed.
    static std::optional<DesktopEntry> find(const QString& desktopId);
    // One entry file read under the same rules.
    static std::optional<DesktopEntry> read(const std::filesystem::path& path, const QString& desktopId);

    // The program and its arguments from the Exec line: quoting undone, %i, %c and %k expanded
    // and the file and URL codes dropped (nothing is handed to the program). Empty for a line that
    // is malformed or names no program.
    static QStringList commandLine(const DesktopEntry& entry);
};

} // namespace parlino
