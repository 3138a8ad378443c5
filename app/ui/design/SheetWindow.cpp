#include "app/ui/design/SheetWindow.hpp"

#include <QWidget>

namespace parlino::design {

void SheetWindow::apply(QWidget& window)
{
    window.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

} // namespace parlino::design
