#include "app/ui/settings/SettingsSection.hpp"

#include "app/ui/design/Divider.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/RoundedSurface.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

constexpr double cardRadius = 10;

void addItems(QHBoxLayout* layout, const QList<QWidget*>& items)
{
    bool stretched = false;
    for (QWidget* item : items) {
        const bool grows = item && item->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding
            && item->maximumWidth() == QWIDGETSIZE_MAX;
        if (grows) {
            layout->addWidget(item, 1, Qt::AlignVCenter);
            stretched = true;
        } else if (item) {
            layout->addWidget(item, 0, Qt::AlignVCenter);
        } else {
            layout->addStretch(1);
            stretched = true;
        }
    }
    if (!stretched) {
        layout->addStretch(1);
    }
}

} // namespace

SettingsSection::SettingsSection(const QString& title, QWidget* parent)
    : QWidget(parent)
    , title_(title)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    heading_ = new PlainLabel(title, Font::textStyle(TextStyle::headline), Color::textPrimary(), this);
    heading_->setContentsMargins(6, 0, 0, 0);
    layout->addWidget(heading_);
    card_ = new QWidget(this);
    rows_ = new QVBoxLayout(card_);
    rows_->setContentsMargins(16, 14, 16, 14);
    rows_->setSpacing(6);
    layout->addWidget(card_);
}

void SettingsSection::addRow(QWidget* row)
{
    row->setParent(card_);
    rows_->addWidget(row);
}

void SettingsSection::setRowSpacing(int spacing)
{
    rows_->setSpacing(spacing);
}

void SettingsSection::addDivider()
{
    rows_->addWidget(new Divider(9, card_));
}

QWidget* SettingsSection::horizontal(const QList<QWidget*>& items, int spacing, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    addItems(layout, items);
    return row;
}

QWidget* SettingsSection::labelledRow(
    const QString& label, const QList<QWidget*>& controls, QWidget* parent, int width)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(rowSpacing);
    auto* text = new PlainLabel(label, Font::textStyle(TextStyle::body), Color::textPrimary(), row);
    text->setFixedWidth(width);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    text->setWordWrap(true);
    layout->addWidget(text, 0, Qt::AlignVCenter);
    addItems(layout, controls);
    return row;
}

int SettingsSection::labelWidthFor(const QStringList& labels)
{
    const QFontMetrics metrics(Font::textStyle(TextStyle::body));
    int width = labelWidth;
    for (const QString& label : labels) {
        width = std::max(width, metrics.horizontalAdvance(label) + 2);
    }
    return width;
}

QWidget* SettingsSection::indentedRow(const QList<QWidget*>& items, int spacing, QWidget* parent)
{
    QWidget* row = horizontal(items, spacing, parent);
    row->layout()->setContentsMargins(indent, 0, 0, 0);
    return row;
}

void SettingsSection::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(card_->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = roundedRect(card, cardRadius);
    const bool dark = currentAppearance() == Appearance::dark;
    painter.fillPath(shape, dark ? QColor(0x1C, 0x1C, 0x1E) : QColor(Qt::white));
    painter.setPen(QPen(Color::surfaceTertiary().resolved(), 1));
    painter.drawPath(shape);
}

PlainLabel* formText(const QString& text, TextStyle style, Color color, QWidget* parent)
{
    return new PlainLabel(text, Font::textStyle(style), std::move(color), parent);
}

QWidget* formTextBox(QPlainTextEdit*& field, QWidget* parent)
{
    auto* surface = new RoundedSurface(Color::surfaceSecondary(), 8, parent);
    auto* surfaceLayout = new QVBoxLayout(surface);
    surfaceLayout->setContentsMargins(8, 8, 8, 8);
    field = new QPlainTextEdit(surface);
    field->setFrameShape(QFrame::NoFrame);
    field->setFont(Font::textStyle(TextStyle::body));
    field->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; color: %1; }")
            .arg(Color::textPrimary().resolved().name()));
    field->viewport()->setAutoFillBackground(false);
    field->setTabChangesFocus(true);
    surfaceLayout->addWidget(field);
    return surface;
}

QPushButton* formButton(const QString& text, ButtonProminence prominence, QWidget* parent)
{
    auto* button = new QPushButton(escapedMnemonic(text), parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    if (prominence == ButtonProminence::prominent) {
        const QColor blue = Color::brandBlue().resolved();
        // Disabled: the brand colour washed out towards white.
        const QColor faded = QColor::fromRgbF(blue.redF() * 0.45 + 0.55, blue.greenF() * 0.45 + 0.55, blue.blueF() * 0.45 + 0.55);
        button->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid %1; color: #FFFFFF; "
                                             "font-weight: 600; } QPushButton:hover { background: %2; } "
                                             "QPushButton:pressed { background: %3; } "
                                             "QPushButton:disabled { background: %4; border: 1px solid %4; }")
                .arg(blue.name(), blue.lighter(110).name(), blue.darker(115).name(), faded.name()));
    }
    return button;
}

QLabel* formSymbol(const QString& name, const Color& color, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(name, color.resolved(), size).pixmap(size, size));
    label->setFixedSize(size + 2, size + 2);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace parlino
