#pragma once

#include "app/ui/design/Color.hpp"

#include <QFont>
#include <QString>
#include <QWidget>

namespace parlino::design {

// One line of plain text in a design colour, cut in the middle with "…" when it does not fit, so
// that both ends of a long path stay readable.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    ElidedLabel(const QString& text, const QFont& font, Color color, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // What is drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Color color_;
};

} // namespace parlino::design
