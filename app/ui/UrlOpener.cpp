#include "app/ui/UrlOpener.hpp"

#include <QDesktopServices>

namespace parlino {

bool SystemUrlOpener::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace parlino
