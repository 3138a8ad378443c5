#pragma once

#include <QUrl>

namespace parlino {

// Opens links and files with the desktop's default handler; a recording fake in tests.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    // False when nothing could open it.
    virtual bool openUrl(const QUrl& url) = 0;
};

class SystemUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl& url) override;
};

} // namespace parlino
