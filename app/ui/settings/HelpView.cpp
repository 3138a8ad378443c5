#include "app/ui/settings/HelpView.hpp"

#include "app/ui/design/SheetWindow.hpp"
#include "app/ui/design/Divider.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/RoundedSurface.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

constexpr QSize sheetSize(550, 600);
constexpr int defaultPadding = 16;
// The platform's standard orange, which the shortcut card's symbol uses.
const QColor systemOrange(0xFF, 0x95, 0x00);

QLabel* symbolLabel(const QString& name, const QColor& color, int size, int frameWidth, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(name, color, size).pixmap(size, size));
    label->setFixedWidth(frameWidth);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// The card's frame: a heading row (symbol in a 30-point column, then the title) and the rows
// below, indented by 40.
QVBoxLayout* cardBody(QWidget* card, const QString& icon, const QColor& iconColor, const QString& title)
{
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(12);
    auto* heading = new QHBoxLayout;
    heading->setSpacing(8);
    heading->addWidget(symbolLabel(icon, iconColor, 17, 30, card));
    heading->addWidget(new PlainLabel(title, Font::textStyle(TextStyle::headline), Color::textPrimary(), card), 1);
    layout->addLayout(heading);
    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(40, 0, 0, 0);
    rows->setSpacing(8);
    layout->addLayout(rows);
    return rows;
}

QWidget* topicCard(const HelpSection& section, QWidget* parent)
{
    auto* card = new RoundedSurface(section.color.opacity(0.1), 12, parent);
    QVBoxLayout* rows = cardBody(card, section.icon, section.color.resolved(), section.title);
    for (const QString& tip : section.tips) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* bullet = new PlainLabel(QStringLiteral("•"), Font::textStyle(TextStyle::subheadline), Color::textSecondary(), card);
        row->addWidget(bullet, 0, Qt::AlignTop);
        auto* text = new PlainLabel(tip, Font::textStyle(TextStyle::subheadline), Color::textSecondary(), card);
        text->setWordWrap(true);
        row->addWidget(text, 1, Qt::AlignTop);
        rows->addLayout(row);
    }
    return card;
}

QFont keyFont()
{
    QFont font = Font::textStyle(TextStyle::caption);
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono")});
    font.setStyleHint(QFont::Monospace);
    return font;
}

// The key itself, on a small rounded plate.
class KeyCap final : public QLabel {
public:
    KeyCap(const QString& key, QWidget* parent)
        : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setText(key);
        setFont(keyFont());
        setContentsMargins(8, 4, 8, 4);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, Color::textPrimary().resolved());
        setPalette(p);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillPath(roundedRect(QRectF(rect()), 4), Color::surfaceTertiary().resolved());
        }
        QLabel::paintEvent(event);
    }
};

QWidget* shortcutCard(QWidget* parent)
{
    auto* card = new RoundedSurface(Color::warningAmber().opacity(0.1), 12, parent);
    card->setObjectName(QStringLiteral("helpShortcuts"));
    QVBoxLayout* rows = cardBody(card, QStringLiteral("keyboard"), systemOrange, QStringLiteral("Klávesové skratky"));
    for (const ShortcutRow& shortcut : HelpView::shortcutRows()) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* keyColumn = new QWidget(card);
        keyColumn->setFixedWidth(80);
        auto* keyLayout = new QHBoxLayout(keyColumn);
        keyLayout->setContentsMargins(0, 0, 0, 0);
        keyLayout->addWidget(new KeyCap(shortcut.key, keyColumn));
        keyLayout->addStretch(1);
        row->addWidget(keyColumn, 0, Qt::AlignVCenter);
        row->addWidget(new PlainLabel(shortcut.description, Font::textStyle(TextStyle::caption), Color::textSecondary(), card),
            1, Qt::AlignVCenter);
        rows->addLayout(row);
    }
    return card;
}

QWidget* header(QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, defaultPadding, 0, 0);
    layout->setSpacing(8);
    auto* icon = symbolLabel(QStringLiteral("questionmark.circle.fill"), Color::brandBlue().resolved(), 50, 60, box);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto* title = new PlainLabel(QStringLiteral("Pomoc"), Font::textStyle(TextStyle::title, QFont::Bold), Color::textPrimary(), box);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addWidget(new PlainLabel(QStringLiteral("Tipy a návod na používanie"), Font::textStyle(TextStyle::subheadline),
                          Color::textSecondary(), box),
        0, Qt::AlignHCenter);
    return box;
}

} // namespace

const std::vector<HelpSection>& HelpView::sections()
{
    static const std::vector<HelpSection> sections = {
        {QStringLiteral("Nahrávanie"), QStringLiteral("mic.fill"), Color::dangerRed(),
            {QStringLiteral("Stlač tlačidlo Record a hovor jasne"),
                QStringLiteral("Nahrávky sa automaticky ukladajú po zastavení"),
                QStringLiteral("Prepis sa vytvára automaticky pomocou Auris")}},
        {QStringLiteral("Organizácia"), QStringLiteral("folder.fill"), Color::brandBlue(),
            {QStringLiteral("Klikni na názov nahrávky pre úpravu"), QStringLiteral("Klikni na kategóriu pre zmenu"),
                QStringLiteral("Použi vyhľadávanie pre rýchle nájdenie nahrávok")}},
        {QStringLiteral("AI Integrácia"), QStringLiteral("brain"), Color::infoCyan(),
            {QStringLiteral("Klikni na AI ikonu pre odoslanie prepisu do ChatGPT, Claude, Gemini, Perplexity alebo Copilot"),
                QStringLiteral("Text sa automaticky skopíruje do schránky"),
                QStringLiteral("AI app sa otvorí (natívna appka alebo web)")}},
        {QStringLiteral("Synchronizácia"), QStringLiteral("arrow.triangle.2.circlepath"), Color::successGreen(),
            {QStringLiteral("Nahrávky sa automaticky syncujú cez cloud"),
                QStringLiteral("Export do vlastného priečinka v Settings"),
                QStringLiteral("Podpora pre Synology, Dropbox, Google Drive")}},
    };
    return sections;
}

const std::vector<ShortcutRow>& HelpView::shortcutRows()
{
    static const std::vector<ShortcutRow> rows = {
        {QStringLiteral("Ctrl R"), QStringLiteral("Nová nahrávka")},
        {QStringLiteral("Ctrl ,"), QStringLiteral("Nastavenia")},
        {QStringLiteral("Ctrl F"), QStringLiteral("Vyhľadávanie")},
        {QStringLiteral("Space"), QStringLiteral("Prehrať/Zastaviť")},
        {QStringLiteral("Delete"), QStringLiteral("Zmazať nahrávku")},
    };
    return rows;
}

HelpView::HelpView(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("helpView"));
    setWindowTitle(QStringLiteral("Pomoc"));
    setFixedSize(sheetSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 30, 30, 30);
    layout->setSpacing(24);
    layout->addWidget(header(this));
    layout->addWidget(new Divider(1, this));

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("helpScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget(scroll);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(defaultPadding, 0, defaultPadding, 0);
    contentLayout->setSpacing(20);
    int index = 0;
    for (const HelpSection& section : sections()) {
        QWidget* card = topicCard(section, content);
        card->setObjectName(QStringLiteral("helpSection%1").arg(index++));
        contentLayout->addWidget(card);
    }
    contentLayout->addWidget(shortcutCard(content));
    contentLayout->addStretch(1);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    layout->addWidget(scroll, 1);
    layout->addWidget(new Divider(1, this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(0, 0, 0, defaultPadding);
    footer->setSpacing(16);
    auto* close = new QPushButton(QStringLiteral("Zavrieť"), this);
    close->setObjectName(QStringLiteral("closeHelpButton"));
    close->setAutoDefault(false);
    close->setCursor(Qt::PointingHandCursor);
    close->setFont(Font::textStyle(TextStyle::body, QFont::Medium));
    close->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; padding: 4px 12px; color: %1; }"
                                        "QPushButton:hover { color: %2; }")
            .arg(Color::textPrimary().resolved().name(), Color::brandBlue().resolved().name()));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    footer->addStretch(1);
    footer->addWidget(close);
    footer->addStretch(1);
    layout->addLayout(footer);
}

HelpView* HelpView::present(QWidget* parent)
{
    auto* sheet = new HelpView(parent);
    design::SheetWindow::apply(*sheet);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
    return sheet;
}

} // namespace parlino
