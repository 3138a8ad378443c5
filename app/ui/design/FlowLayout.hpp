#pragma once

#include <QLayout>
#include <QList>

namespace parlino::design {

// Lays its widgets out left to right and starts a new line where the next one would not fit, so a
// row of buttons or facts stays whole in a narrow pane. With a column count it is a grid of equal
// columns instead, as many as fit up to that count.
class FlowLayout final : public QLayout {
    Q_OBJECT

public:
    FlowLayout(int horizontalSpacing, int verticalSpacing, QWidget* parent = nullptr);
    ~FlowLayout() override;

    void setMaximumColumns(int columns) { maximumColumns_ = columns; }

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override { return items_.value(index); }
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Places the items in `rect` (or only measures, when `place` is false) and returns the height used.
    int arrange(const QRect& rect, bool place) const;
    int arrangeColumns(const QRect& area, bool place) const;
    QList<QLayoutItem*> shownItems() const;

    QList<QLayoutItem*> items_;
    int horizontalSpacing_;
    int verticalSpacing_;
    int maximumColumns_ = 0;
};

} // namespace parlino::design
