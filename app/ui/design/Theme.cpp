#include "app/ui/design/Theme.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace parlino::design {

namespace {

QString styleSheet()
{
    const QString blue = Color::brandBlue().resolved().name();
    const QString text = Color::textPrimary().resolved().name();
    const QString tertiary = Color::surfaceTertiary().resolved().name();
    return QStringLiteral(R"(
QLineEdit {
    background: #FFFFFF;
    border: 1px solid #D1D1D6;
    border-radius: 6px;
    padding: 3px 8px;
    color: %2;
    selection-background-color: %1;
    selection-color: #FFFFFF;
}
QLineEdit:focus { border: 1px solid %1; }
QComboBox {
    background: #FFFFFF;
    border: 1px solid #D1D1D6;
    border-radius: 6px;
    padding: 2px 8px;
    color: %2;
    min-height: 18px;
}
QComboBox:focus { border: 1px solid %1; }
QComboBox:disabled { background: #F5F5F7; color: %4; }
QComboBox::drop-down { border: none; width: 18px; }
QComboBox QAbstractItemView {
    background: #FFFFFF;
    border: 1px solid #D1D1D6;
    selection-background-color: %1;
    selection-color: #FFFFFF;
    outline: none;
}
QPushButton {
    background: #FFFFFF;
    border: 1px solid #D1D1D6;
    border-radius: 6px;
    padding: 4px 14px;
    color: %2;
}
QPushButton:hover { background: #F7F7FA; }
QPushButton:pressed { background: %3; }
QPushButton:default { background: %1; border: 1px solid %1; color: #FFFFFF; }
QPushButton:disabled { background: #F5F5F7; border: 1px solid #E5E5EA; color: %4; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }
QScrollBar::handle:vertical { background: rgba(0, 0, 0, 60); border-radius: 3px; min-height: 24px; }
QScrollBar::handle:vertical:hover { background: rgba(0, 0, 0, 100); }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QSplitter::handle { background: %3; }
QToolTip { color: %2; background: #FFFFFF; border: 1px solid #D1D1D6; }
QMessageBox QLabel { color: %2; }
QMessageBox QLabel#qt_msgbox_label { font-size: 15px; font-weight: 600; }
QMenu { background: #FFFFFF; border: 1px solid #D1D1D6; padding: 4px; }
QMenu::item { padding: 4px 18px; border-radius: 4px; color: %2; }
QMenu::item:selected { background: %1; color: #FFFFFF; }
)")
        .arg(blue, text, tertiary, Color::textSecondary().resolved().name());
}

} // namespace

void Theme::apply(QApplication& application)
{
    Font::loadBundledFonts();
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QPalette palette;
    const QColor window(0xFB, 0xFB, 0xFD);
    const QColor text = Color::textPrimary().resolved(Appearance::light);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, Color::surfaceSecondary().resolved(Appearance::light));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, Color::textSecondary().resolved(Appearance::light));
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, Color::brandBlue().resolved());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, Qt::white);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, Color::brandBlue().resolved());
    palette.setColor(QPalette::Disabled, QPalette::Text, Color::textSecondary().resolved(Appearance::light));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Color::textSecondary().resolved(Appearance::light));
    application.setPalette(palette);
    application.setFont(Font::textStyle(TextStyle::body));
    application.setStyleSheet(styleSheet());
}

} // namespace parlino::design
