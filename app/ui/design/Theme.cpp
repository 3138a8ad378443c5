#include "app/ui/design/Theme.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace parlino::design {

namespace {

// The colours of the toolkit's own controls, which the design's tokens do not name.
struct ControlColours {
    QColor window;
    QColor field;
    QColor fieldEdge;
    QColor hover;
    QColor disabledFill;
    QColor disabledEdge;
    QColor scrollHandle;
    QColor scrollHandleHover;
};

ControlColours controlColours(Appearance appearance)
{
    if (appearance == Appearance::dark) {
        return {QColor(0x1C, 0x1C, 0x1E), QColor(0x2C, 0x2C, 0x2E), QColor(0x48, 0x48, 0x4A), QColor(0x3A, 0x3A, 0x3C),
            QColor(0x26, 0x26, 0x28), QColor(0x3A, 0x3A, 0x3C), QColor(255, 255, 255, 70), QColor(255, 255, 255, 120)};
    }
    return {QColor(0xFB, 0xFB, 0xFD), QColor(0xFF, 0xFF, 0xFF), QColor(0xD1, 0xD1, 0xD6), QColor(0xF7, 0xF7, 0xFA),
        QColor(0xF5, 0xF5, 0xF7), QColor(0xE5, 0xE5, 0xEA), QColor(0, 0, 0, 60), QColor(0, 0, 0, 100)};
}

QString rgba(const QColor& colour)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(colour.red()).arg(colour.green()).arg(colour.blue()).arg(colour.alpha());
}

QString styleSheet(Appearance appearance)
{
    const ControlColours c = controlColours(appearance);
    QString sheet = QStringLiteral(R"(
QLineEdit {
    background: @field;
    border: 1px solid @edge;
    border-radius: 6px;
    padding: 3px 8px;
    color: @text;
    selection-background-color: @blue;
    selection-color: #FFFFFF;
}
QLineEdit:focus { border: 1px solid @blue; }
QComboBox {
    background: @field;
    border: 1px solid @edge;
    border-radius: 6px;
    padding: 2px 8px;
    color: @text;
    min-height: 18px;
}
QComboBox:focus { border: 1px solid @blue; }
QComboBox:disabled { background: @disabledFill; color: @secondary; }
QComboBox::drop-down { border: none; width: 18px; }
QComboBox QAbstractItemView {
    background: @field;
    color: @text;
    border: 1px solid @edge;
    selection-background-color: @blue;
    selection-color: #FFFFFF;
    outline: none;
}
QPushButton {
    background: @field;
    border: 1px solid @edge;
    border-radius: 6px;
    padding: 4px 14px;
    color: @text;
}
QPushButton:hover { background: @hover; }
QPushButton:pressed { background: @tertiary; }
QPushButton:focus { border: 2px solid @blue; padding: 3px 13px; }
QPushButton:default { background: @blue; border: 1px solid @blue; color: #FFFFFF; }
QPushButton:default:focus { border: 2px solid @focusOnBlue; padding: 3px 13px; }
QPushButton:disabled { background: @disabledFill; border: 1px solid @disabledEdge; color: @secondary; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }
QScrollBar::handle:vertical { background: @handle; border-radius: 3px; min-height: 24px; }
QScrollBar::handle:vertical:hover { background: @handleHover; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QScrollBar:horizontal { background: transparent; height: 10px; margin: 2px; }
QScrollBar::handle:horizontal { background: @handle; border-radius: 3px; min-width: 24px; }
QScrollBar::handle:horizontal:hover { background: @handleHover; }
QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }
QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: transparent; }
QSplitter::handle { background: @tertiary; }
QToolTip { color: @text; background: @field; border: 1px solid @edge; }
QMessageBox { background: @window; }
QMessageBox QLabel { color: @text; }
QMessageBox QLabel#qt_msgbox_label { font-size: @titlePx; font-weight: 600; }
QMenu { background: @field; border: 1px solid @edge; padding: 4px; }
QMenu::item { padding: 4px 18px; border-radius: 4px; color: @text; }
QMenu::item:selected { background: @blue; color: #FFFFFF; }
)");
    const QList<std::pair<QString, QString>> values = {
        {QStringLiteral("@field"), c.field.name()},
        {QStringLiteral("@edge"), c.fieldEdge.name()},
        {QStringLiteral("@hover"), c.hover.name()},
        {QStringLiteral("@disabledFill"), c.disabledFill.name()},
        {QStringLiteral("@disabledEdge"), c.disabledEdge.name()},
        {QStringLiteral("@handleHover"), rgba(c.scrollHandleHover)},
        {QStringLiteral("@handle"), rgba(c.scrollHandle)},
        {QStringLiteral("@window"), c.window.name()},
        {QStringLiteral("@blue"), Color::brandBlue().resolved(appearance).name()},
        {QStringLiteral("@focusOnBlue"), Color::brandIndigo().resolved(appearance).darker(150).name()},
        {QStringLiteral("@text"), Color::textPrimary().resolved(appearance).name()},
        {QStringLiteral("@secondary"), Color::textSecondary().resolved(appearance).name()},
        {QStringLiteral("@tertiary"), Color::surfaceTertiary().resolved(appearance).name()},
        {QStringLiteral("@titlePx"), QStringLiteral("%1px").arg(qRound(15 * Font::scale()))},
    };
    for (const auto& [name, value] : values) {
        sheet.replace(name, value);
    }
    return sheet;
}

QPalette palette(Appearance appearance)
{
    const ControlColours c = controlColours(appearance);
    const QColor text = Color::textPrimary().resolved(appearance);
    const QColor secondary = Color::textSecondary().resolved(appearance);
    QPalette palette;
    palette.setColor(QPalette::Window, c.window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, c.field);
    palette.setColor(QPalette::AlternateBase, Color::surfaceSecondary().resolved(appearance));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, secondary);
    palette.setColor(QPalette::Button, c.field);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, Color::brandBlue().resolved(appearance));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, c.field);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, Color::brandBlue().resolved(appearance));
    palette.setColor(QPalette::Disabled, QPalette::Text, secondary);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, secondary);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, secondary);
    return palette;
}

} // namespace

QString Theme::borderlessToolButtonSheet()
{
    return QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; }"
                          "QToolButton:focus { border: 2px solid %1; border-radius: 5px; }")
        .arg(Color::brandBlue().resolved().name());
}

void Theme::apply(QApplication& application, Appearance appearance)
{
    Font::loadBundledFonts();
    if (!application.style() || application.style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }
    application.setFont(Font::textStyle(TextStyle::body));
    // The palette first: the style sheet's controls and every widget's own colours read it.
    application.setPalette(palette(appearance == Appearance::dark ? Appearance::dark : Appearance::light));
    application.setStyleSheet(styleSheet(appearance == Appearance::dark ? Appearance::dark : Appearance::light));
}

} // namespace parlino::design
