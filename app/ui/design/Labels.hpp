#pragma once

#include "app/ui/design/Color.hpp"

#include <QFont>
#include <QLabel>
#include <QString>

namespace parlino::design {

// A label that shows its text verbatim (never as rich text) in a design colour, recoloured when
// the appearance changes.
class PlainLabel : public QLabel {
    Q_OBJECT

public:
    PlainLabel(const QString& text, const QFont& font, Color color, QWidget* parent = nullptr);

    void setColor(Color color);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColor();

    Color color_;
};

// A mnemonic-free text for the toolkit's own buttons: "&" is shown as itself.
QString escapedMnemonic(QString text);

} // namespace parlino::design
