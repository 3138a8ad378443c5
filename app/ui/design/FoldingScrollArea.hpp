#pragma once

#include <QScrollArea>

namespace parlino::design {

// Holds one widget at its full height where there is room, and scrolls it inside a shorter frame
// where the screen around it is short, so that what comes below it stays in view. It never grows
// past its widget, and asks for no less than `minimumHeight`.
class FoldingScrollArea : public QScrollArea {
    Q_OBJECT

public:
    FoldingScrollArea(QWidget* content, int minimumHeight, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int minimumHeight_;
};

} // namespace parlino::design
