#pragma once

#include <QString>
#include <QWidget>

namespace parlino {

namespace design {
class PlainLabel;
}

// A short centred line with a warning symbol before it, placed by a button to say why that button
// does nothing: no feedback address, no review page, no program that opens the link.
class FormWarning : public QWidget {
    Q_OBJECT

public:
    explicit FormWarning(const QString& text, QWidget* parent = nullptr);

    QString text() const;
    // Shows the line with this text.
    void say(const QString& text);

private:
    design::PlainLabel* text_ = nullptr;
};

} // namespace parlino
