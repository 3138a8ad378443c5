#pragma once

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace parlino {

namespace design {
class PlainLabel;
}

// One titled group of the settings form: the title above a rounded card that holds the rows, one
// under the other.
class SettingsSection : public QWidget {
    Q_OBJECT

public:
    // Labelled rows give their label this width, right-aligned; everything indented lines up with
    // the controls after it.
    static constexpr int labelWidth = 120;
    static constexpr int rowSpacing = 8;
    static constexpr int indent = labelWidth + rowSpacing;

    SettingsSection(const QString& title, QWidget* parent = nullptr);

    QString title() const { return title_; }
    void addRow(QWidget* row);
    void addDivider();
    void setRowSpacing(int spacing);

    // A row with `label` in the label column, then the controls in order. A null control stands
    // for flexible space; without one the free space goes after the last control.
    static QWidget* labelledRow(
        const QString& label, const QList<QWidget*>& controls, QWidget* parent, int width = labelWidth);
    // The label column wide enough for each of the labels on one line, and never narrower than usual.
    static int labelWidthFor(const QStringList& labels);
    // A row whose items start under the controls of the labelled rows.
    static QWidget* indentedRow(const QList<QWidget*>& items, int spacing, QWidget* parent);
    // Items side by side, vertically centred, with flexible space after them (or where a null
    // item stands); an item that expands takes the free space itself.
    static QWidget* horizontal(const QList<QWidget*>& items, int spacing, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    QLabel* heading_;
    QWidget* card_;
    QVBoxLayout* rows_;
};

// A plain text of the form in one of the platform text styles.
design::PlainLabel* formText(
    const QString& text, design::TextStyle style, design::Color color, QWidget* parent = nullptr);
// A button of the form; `&` in the text is shown as itself. A prominent one is filled with the
// brand colour.
enum class ButtonProminence { standard, prominent };
QPushButton* formButton(const QString& text, ButtonProminence prominence, QWidget* parent = nullptr);
// A multi-line text field of the form on a rounded surface padded 8: returns the surface, the field
// in `field`. Tab leaves the field.
QWidget* formTextBox(QPlainTextEdit*& field, QWidget* parent = nullptr);
// A symbol in one colour, sized like the text beside it.
QLabel* formSymbol(const QString& name, const design::Color& color, int size, QWidget* parent = nullptr);

} // namespace parlino
