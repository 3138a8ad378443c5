#include "app/ui/settings/ThankYouView.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "app/ui/settings/FormWarning.hpp"
#include "app/ui/settings/GlowingSymbol.hpp"
#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/design/Divider.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/RoundedSurface.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

constexpr int sheetWidth = 500;
constexpr int sheetMinimumHeight = 600;
constexpr int defaultPadding = 16;

const char* const noReviewPageText = "Recenziu zatiaľ nemožno napísať: chýba odkaz na obchod.";
const char* const noStoreProgramText = "Obchod s aplikáciami sa nepodarilo otvoriť.";

QWidget* reasons(QWidget* parent)
{
    auto* card = new RoundedSurface(Color::brandBlue().opacity(0.1), 12, parent);
    card->setObjectName(QStringLiteral("reviewReasons"));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(16);
    layout->addWidget(
        new PlainLabel(QStringLiteral("Prečo je recenzia dôležitá:"), Font::textStyle(TextStyle::headline), Color::textPrimary(), card));
    auto* list = new QVBoxLayout;
    list->setSpacing(12);
    const std::pair<const char*, const char*> rows[] = {
        {"Pomôže iným používateľom objaviť aplikáciu", "magnifyingglass"},
        {"Motivuje nás v ďalšom vývoji", "heart.fill"},
        {"Zlepší pozíciu v obchode s aplikáciami", "arrow.up.circle.fill"},
        {"Trvá len 30 sekúnd", "clock.fill"},
    };
    for (const auto& [text, symbol] : rows) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        QLabel* icon = formSymbol(QString::fromLatin1(symbol), Color::brandBlue(), 14, card);
        row->addWidget(icon, 0, Qt::AlignVCenter);
        row->addWidget(formText(QString::fromUtf8(text), TextStyle::subheadline, Color::textPrimary(), card), 1,
            Qt::AlignVCenter);
        list->addLayout(row);
    }
    layout->addLayout(list);
    return card;
}

} // namespace

ThankYouView::ThankYouView(UrlOpener& urlOpener, QWidget* parent, QString reviewUrl)
    : QDialog(parent)
    , urlOpener_(urlOpener)
    , reviewUrl_(std::move(reviewUrl))
{
    setObjectName(QStringLiteral("thankYouView"));
    setWindowTitle(QStringLiteral("Parlino"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(30);

    layout->addWidget(sheetHeader({QStringLiteral("heart.circle.fill"), 80, LinearGradient::brandGradient(),
                                      Color::brandPink(), 0.15, 15, 60, 15, 120},
        QStringLiteral("Mega ďakujeme!"), Font::displayLarge(), QStringLiteral("Vaša podpora nám veľmi pomáha!"),
        Font::textStyle(TextStyle::title3), 16, 0, this));
    layout->addWidget(new Divider(1, this));
    layout->addWidget(reasons(this));

    auto* actions = new QVBoxLayout;
    actions->setSpacing(12);
    // The label is a row of its own: a star on each side of the text.
    QPushButton* review = formButton(QString(), ButtonProminence::prominent, this);
    review->setObjectName(QStringLiteral("writeReviewButton"));
    review->setAccessibleName(QStringLiteral("Napísať recenziu v obchode s aplikáciami"));
    review->setMinimumHeight(44);
    auto* label = new QHBoxLayout(review);
    label->setContentsMargins(defaultPadding, 0, defaultPadding, 0);
    label->setSpacing(8);
    label->addStretch(1);
    for (int part = 0; part < 3; ++part) {
        QLabel* item = part == 1 ? formText(review->accessibleName(), TextStyle::headline, Color::white(), review)
                                 : formSymbol(QStringLiteral("star.fill"), Color::white(), 14, review);
        item->setAttribute(Qt::WA_TransparentForMouseEvents);
        // White also while the button is disabled, like the stars and the other prominent buttons.
        item->setStyleSheet(QStringLiteral("QLabel { color: #FFFFFF; }"));
        label->addWidget(item, 0, Qt::AlignVCenter);
    }
    label->addStretch(1);
    connect(review, &QPushButton::clicked, this, [this] {
        if (openAppStoreReview()) {
            accept();
        }
    });
    review->setEnabled(reviewPageUrl().has_value());
    actions->addWidget(review);
    unopened_ = new FormWarning(QString::fromUtf8(noReviewPageText), this);
    unopened_->setObjectName(QStringLiteral("reviewUnopenedWarning"));
    actions->addWidget(unopened_);
    QPushButton* later = formButton(QStringLiteral("Možno neskôr"), ButtonProminence::standard, this);
    later->setObjectName(QStringLiteral("maybeLaterButton"));
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    actions->addWidget(later, 0, Qt::AlignHCenter);
    layout->addLayout(actions);
    layout->addStretch(1);

    // Tall enough for the warning line, which may appear later.
    setFixedSize(sheetWidth, std::max(sheetMinimumHeight, layout->totalSizeHint().height()));
    unopened_->setVisible(!review->isEnabled());
}

std::optional<QUrl> ThankYouView::reviewPageUrl() const
{
    QUrl page(reviewUrl_, QUrl::StrictMode);
    if (reviewUrl_.isEmpty() || !page.isValid()) {
        return std::nullopt;
    }
    return page;
}

bool ThankYouView::openAppStoreReview()
{
    const std::optional<QUrl> page = reviewPageUrl();
    if (!page) {
        consoleLine(QStringLiteral("⚠️ No store review page is set - nothing opened"));
        return false;
    }
    if (!urlOpener_.openUrl(*page)) {
        consoleLine(QStringLiteral("❌ No program could open the store review page"));
        unopened_->say(QString::fromUtf8(noStoreProgramText));
        return false;
    }
    return true;
}

} // namespace parlino
