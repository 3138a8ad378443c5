#include "app/ui/design/FlowLayout.hpp"

#include <QWidget>

#include <algorithm>

namespace parlino::design {

FlowLayout::FlowLayout(int horizontalSpacing, int verticalSpacing, QWidget* parent)
    : QLayout(parent)
    , horizontalSpacing_(horizontalSpacing)
    , verticalSpacing_(verticalSpacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void FlowLayout::addItem(QLayoutItem* item)
{
    items_.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

int FlowLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QList<QLayoutItem*> FlowLayout::shownItems() const
{
    QList<QLayoutItem*> shown;
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            shown.append(item);
        }
    }
    return shown;
}

QSize FlowLayout::sizeHint() const
{
    // All on one line (or in all the columns) when there is room for it.
    const QList<QLayoutItem*> shown = shownItems();
    const int perLine = maximumColumns_ > 0 ? std::min<int>(maximumColumns_, shown.size()) : shown.size();
    int width = 0;
    int height = 0;
    for (int i = 0; i < perLine; ++i) {
        width += (width > 0 ? horizontalSpacing_ : 0) + shown[i]->sizeHint().width();
    }
    for (const QLayoutItem* item : shown) {
        height = std::max(height, item->sizeHint().height());
    }
    if (perLine > 0) {
        const int lines = (static_cast<int>(shown.size()) + perLine - 1) / perLine;
        height = lines * height + (lines - 1) * verticalSpacing_;
    }
    const QMargins margins = contentsMargins();
    return QSize(width + margins.left() + margins.right(), height + margins.top() + margins.bottom());
}

QSize FlowLayout::minimumSize() const
{
    QSize size;
    for (const QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->minimumSize());
        }
    }
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrangeColumns(const QRect& area, bool place) const
{
    const QList<QLayoutItem*> shown = shownItems();
    int widest = 1;
    int tallest = 0;
    for (const QLayoutItem* item : shown) {
        widest = std::max(widest, item->minimumSize().width());
        tallest = std::max(tallest, item->sizeHint().height());
    }
    const int fitting = (area.width() + horizontalSpacing_) / (widest + horizontalSpacing_);
    const int columns = std::clamp(fitting, 1, maximumColumns_);
    const int columnWidth = std::max(widest, (area.width() - (columns - 1) * horizontalSpacing_) / columns);
    for (int i = 0; place && i < shown.size(); ++i) {
        const int column = i % columns;
        const int line = i / columns;
        shown[i]->setGeometry(QRect(area.x() + column * (columnWidth + horizontalSpacing_),
            area.y() + line * (tallest + verticalSpacing_), columnWidth, tallest));
    }
    const int lines = (static_cast<int>(shown.size()) + columns - 1) / columns;
    return lines > 0 ? lines * tallest + (lines - 1) * verticalSpacing_ : 0;
}

int FlowLayout::arrange(const QRect& rect, bool place) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const QMargins margins = contentsMargins();
    if (maximumColumns_ > 0) {
        return margins.top() + arrangeColumns(area, place) + margins.bottom();
    }
    int x = area.x();
    int y = area.y();
    int lineHeight = 0;
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) {
            continue;
        }
        const QSize size = item->sizeHint().boundedTo(QSize(std::max(area.width(), 0), QWIDGETSIZE_MAX))
                               .expandedTo(item->minimumSize());
        if (x > area.x() && x + size.width() > area.right() + 1) {
            x = area.x();
            y += lineHeight + verticalSpacing_;
            lineHeight = 0;
        }
        if (place) {
            item->setGeometry(QRect(QPoint(x, y), size));
        }
        x += size.width() + horizontalSpacing_;
        lineHeight = std::max(lineHeight, size.height());
    }
    return y + lineHeight - rect.y() + margins.bottom();
}

} // namespace parlino::design
