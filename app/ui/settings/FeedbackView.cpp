#include "app/ui/settings/FeedbackView.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "app/ui/settings/FormWarning.hpp"
#include "app/ui/settings/GlowingSymbol.hpp"
#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/settings/ThankYouView.hpp"
#include "app/ui/design/SheetWindow.hpp"
#include "app/ui/design/Divider.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/RoundedSurface.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace parlino {

using namespace design;

namespace {

constexpr int sheetWidth = 500;
constexpr int sheetMinimumHeight = 550;
constexpr int defaultPadding = 16;
constexpr int starSize = 32;
constexpr int editorHeight = 120;
constexpr int minimumEditorHeight = 64;
constexpr int compactSpacing = 14;
// The window manager's title bar and frame above and below the sheet.
constexpr int titleBarAllowance = 48;

const char* const noAddressText = "Feedback zatiaľ nemožno poslať: chýba platná adresa príjemcu.";
const char* const noMailProgramText = "Poštový program sa nepodarilo otvoriť.";

// A header value of a mailto: link: line breaks become CR LF, and everything but the unreserved
// characters is percent-encoded as UTF-8, so no value can end early or change the link.
QByteArray mailtoValue(QString value)
{
    value.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    value.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    value.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return QUrl::toPercentEncoding(value);
}

QWidget* labelledBlock(const QString& title, QWidget* content, QWidget* parent)
{
    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new PlainLabel(title, Font::textStyle(TextStyle::headline), Color::textPrimary(), block));
    layout->addWidget(content);
    return block;
}

} // namespace

const QStringList& FeedbackView::categories()
{
    static const QStringList categories = {QStringLiteral("General"), QStringLiteral("Bug Report"),
        QStringLiteral("Feature Request"), QStringLiteral("Performance"), QStringLiteral("UI/UX")};
    return categories;
}

FeedbackView::FeedbackView(UrlOpener& urlOpener, QWidget* parent, QString address)
    : QDialog(parent)
    , urlOpener_(urlOpener)
    , address_(std::move(address))
{
    setObjectName(QStringLiteral("feedbackView"));
    setWindowTitle(QStringLiteral("Feedback"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 30, 30, 30);
    layout->setSpacing(24);

    layout->addWidget(sheetHeader({QStringLiteral("heart.fill"), 50,
                                      LinearGradient({Color::brandPink(), Color::dangerRed()}, UnitPoint::topLeading,
                                          UnitPoint::bottomTrailing),
                                      Color::brandPink(), 0.2, 10, 50, 10, 100},
        QStringLiteral("Sme radi za váš feedback!"), Font::displayMedium(), QStringLiteral("Pomôžte nám vylepšiť Parlino"),
        Font::textStyle(TextStyle::subheadline), 12, defaultPadding, this));
    layout->addWidget(new Divider(1, this));

    auto* categoryRow = new QWidget(this);
    auto* categoryLayout = new QHBoxLayout(categoryRow);
    categoryLayout->setContentsMargins(0, 0, 0, 0);
    categoryLayout->setSpacing(8);
    categoryLayout->addWidget(formText(QStringLiteral("Category"), TextStyle::body, Color::textPrimary(), categoryRow));
    category_ = new MenuPicker(categoryRow);
    category_->setObjectName(QStringLiteral("feedbackCategoryPicker"));
    category_->setAccessibleName(QStringLiteral("Category"));
    category_->addItems(categories());
    categoryLayout->addWidget(category_, 1);
    layout->addWidget(labelledBlock(QStringLiteral("Kategória:"), categoryRow, this));

    auto* starsRow = new QWidget(this);
    auto* starsLayout = new QHBoxLayout(starsRow);
    starsLayout->setContentsMargins(0, 0, 0, 0);
    starsLayout->setSpacing(12);
    for (int star = 1; star <= 5; ++star) {
        auto* button = new QToolButton(starsRow);
        button->setObjectName(QStringLiteral("star%1").arg(star));
        button->setAccessibleName(QStringLiteral("%1").arg(star));
        button->setAutoRaise(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setIconSize(QSize(starSize, starSize));
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; }"));
        connect(button, &QToolButton::clicked, this, [this, star] { setRating(star); });
        starsLayout->addWidget(button);
        stars_.push_back(button);
    }
    starsLayout->addStretch(1);
    layout->addWidget(labelledBlock(QStringLiteral("Hodnotenie:"), starsRow, this));

    QWidget* surface = formTextBox(text_, this);
    surface->setFixedHeight(editorHeight + 2 * 8);
    editor_ = surface;
    text_->setObjectName(QStringLiteral("feedbackText"));
    layout->addWidget(labelledBlock(QStringLiteral("V čom by sme sa mohli zlepšiť:"), surface, this));
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(16);
    QPushButton* cancel = formButton(QStringLiteral("Zrušiť"), ButtonProminence::standard, this);
    cancel->setObjectName(QStringLiteral("cancelFeedbackButton"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    send_ = formButton(QStringLiteral("Pošli Feedback"), ButtonProminence::prominent, this);
    send_->setObjectName(QStringLiteral("sendFeedbackButton"));
    send_->setDefault(true);
    connect(send_, &QPushButton::clicked, this, &FeedbackView::submitFeedback);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(send_);
    buttons->addStretch(1);
    // The line sits between the buttons and their bottom padding, so the buttons keep their place.
    auto* actions = new QVBoxLayout;
    actions->setContentsMargins(0, 0, 0, defaultPadding);
    actions->setSpacing(12);
    actions->addLayout(buttons);
    unsent_ = new FormWarning(QString::fromUtf8(noAddressText), this);
    unsent_->setObjectName(QStringLiteral("feedbackUnsentWarning"));
    actions->addWidget(unsent_);
    layout->addLayout(actions);

    showRating();
    fitScreen(*layout);
    unsent_->setVisible(!canMail());
}

void FeedbackView::fitScreen(QVBoxLayout& layout)
{
    // The sheet keeps its width (wider with larger text, as its lines do not wrap); it is as tall as its
    // content needs with the warning line, which may appear later, and no shorter than designed.
    const int width = std::max(sheetWidth, layout.totalSizeHint().width());
    const auto needed = [&] {
        return std::max(layout.totalSizeHint().height(), layout.totalHeightForWidth(width));
    };
    // On a short screen (a laptop's 720 lines) the gaps close up and the text box gets shorter, so
    // that the sheet and its title bar stay on the screen.
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() - titleBarAllowance : needed();
    if (needed() > room) {
        layout.setSpacing(compactSpacing);
        const int over = needed() - room;
        if (over > 0) {
            editor_->setFixedHeight(std::max(minimumEditorHeight, editorHeight - over) + 2 * 8);
        }
        layout.invalidate();
    }
    setFixedSize(width, std::max(std::min(sheetMinimumHeight, room), needed()));
}

QString FeedbackView::selectedCategory() const
{
    return category_->currentText();
}

QString FeedbackView::feedbackText() const
{
    return text_->toPlainText();
}

void FeedbackView::setRating(int stars)
{
    rating_ = std::clamp(stars, 1, 5);
    showRating();
}

void FeedbackView::showRating()
{
    for (int star = 1; star <= static_cast<int>(stars_.size()); ++star) {
        const bool lit = rating_ >= star;
        stars_[star - 1]->setIcon(symbolIcon(lit ? QStringLiteral("star.fill") : QStringLiteral("star"),
            (lit ? Color::warningAmber() : Color::textSecondary()).resolved(), starSize));
    }
    // Without a way to mail it, no feedback can be sent, whatever the rating: the button never
    // pretends otherwise.
    send_->setEnabled(rating_ > 0 && canMail());
}

bool FeedbackView::canMail() const
{
    // Subject and body are encoded whole, so only the address decides whether a link can be made.
    return mailLink(address_, QString(), 0, QString()).has_value();
}

void FeedbackView::submitFeedback()
{
    if (rating_ == 0) {
        return;
    }
    if (!canMail()) {
        // Only says why; nothing can go out and nothing looks sent.
        sendFeedback();
        return;
    }
    if (rating_ >= 4) {
        // What was written goes to the maker before the review prompt; the form stays open either way.
        if (!feedbackText().trimmed().isEmpty() && !sendFeedback()) {
            return;
        }
        if (!thankYou_) {
            auto* thanks = new ThankYouView(urlOpener_, this);
            design::SheetWindow::apply(*thanks);
            thanks->setAttribute(Qt::WA_DeleteOnClose);
            thanks->setWindowModality(Qt::WindowModal);
            thankYou_ = thanks;
            thanks->open();
        }
        return;
    }
    if (sendFeedback()) {
        reject();
    }
}

QString FeedbackView::mailSubject(const QString& category)
{
    return QStringLiteral("Parlino Feedback - ") + category;
}

QString FeedbackView::mailBody(const QString& category, int rating, const QString& text)
{
    return QStringLiteral("Kategória: ") + category + QStringLiteral("\nHodnotenie: ")
        + QStringLiteral("⭐️").repeated(std::max(rating, 0)) + QStringLiteral("\n\nFeedback:\n") + text
        + QStringLiteral("\n\n---\nApp: Parlino Linux\nVersion: 1.0");
}

std::optional<QUrl> FeedbackView::mailLink(const QString& address, const QString& category, int rating, const QString& text)
{
    if (address.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray link = "mailto:" + QUrl::toPercentEncoding(address, "@") + "?subject="
        + mailtoValue(mailSubject(category)) + "&body=" + mailtoValue(mailBody(category, rating, text));
    QUrl url = QUrl::fromEncoded(link, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

bool FeedbackView::sendFeedback()
{
    const std::optional<QUrl> link = mailLink(address_, selectedCategory(), rating_, feedbackText());
    if (!link) {
        consoleLine(address_.isEmpty() ? QStringLiteral("⚠️ No feedback address is set - feedback not sent")
                                       : QStringLiteral("❌ Invalid feedback mail link - feedback not sent"));
        return false;
    }
    if (!urlOpener_.openUrl(*link)) {
        consoleLine(QStringLiteral("❌ No mail app could be opened - feedback not sent"));
        unsent_->say(QString::fromUtf8(noMailProgramText));
        return false;
    }
    consoleLine(QStringLiteral("✅ Opened mail app with feedback"));
    return true;
}

FeedbackView* FeedbackView::present(UrlOpener& urlOpener, QWidget* parent)
{
    auto* sheet = new FeedbackView(urlOpener, parent);
    design::SheetWindow::apply(*sheet);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
    return sheet;
}

} // namespace parlino
