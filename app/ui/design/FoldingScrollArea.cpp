#include "app/ui/design/FoldingScrollArea.hpp"

#include <QEvent>
#include <QScrollBar>

#include <algorithm>

namespace parlino::design {

FoldingScrollArea::FoldingScrollArea(QWidget* content, int minimumHeight, QWidget* parent)
    : QScrollArea(parent)
    , minimumHeight_(minimumHeight)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // The controls inside take the keyboard focus, not the frame around them.
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setWidget(content);
    content->setAutoFillBackground(false);
    content->installEventFilter(this);
}

QSize FoldingScrollArea::sizeHint() const
{
    const QWidget* content = widget();
    if (!content) {
        return QScrollArea::sizeHint();
    }
    const QSize full = content->sizeHint();
    // Room for the bar beside the content, so that showing it cuts nothing off.
    return {full.width() + verticalScrollBar()->sizeHint().width(), full.height()};
}

QSize FoldingScrollArea::minimumSizeHint() const
{
    const QSize full = sizeHint();
    return {full.width(), std::min(full.height(), minimumHeight_)};
}

bool FoldingScrollArea::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
    }
    return QScrollArea::eventFilter(watched, event);
}

} // namespace parlino::design
