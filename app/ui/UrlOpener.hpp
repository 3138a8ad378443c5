#pragma once

#include "app/ui/DesktopApplications.hpp"

#include <QUrl>

namespace parlino {

// Opens links and files with the desktop's default handler, and starts installed desktop
// applications; a recording fake in tests.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    // False when nothing could open it.
    virtual bool openUrl(const QUrl& url) = 0;
    // Starts the entry's program with no file or URL and without a shell; false when it cannot
    // be started.
    virtual bool openApplication(const DesktopEntry& application) = 0;
};

class SystemUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl& url) override;
    bool openApplication(const DesktopEntry& application) override;
};

} // namespace parlino
