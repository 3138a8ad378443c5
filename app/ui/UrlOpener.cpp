#include "app/ui/UrlOpener.hpp"

#include <QDesktopServices>
#include <QProcess>

namespace parlino {

bool SystemUrlOpener::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool SystemUrlOpener::openApplication(const DesktopEntry& application)
{
    QStringList command = DesktopApplications::commandLine(application);
    if (command.isEmpty()) {
        return false;
    }
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command, application.workingDirectory);
}

} // namespace parlino
