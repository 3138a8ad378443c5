#include "app/ui/shell/MacOnboardingView.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

// The page symbol in its page colour, at the visual size of an 80-point system font.
class PageSymbol final : public QWidget {
public:
    explicit PageSymbol(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(96, 96);
    }

    void setSymbol(const QString& name, const Color& color)
    {
        name_ = name;
        color_ = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF center = QRectF(rect()).center();
        painter.fillPath(symbolPath(name_, 80, center), color_.resolved());
        // The glyph of a symbol in a disc reads white on its colour in either appearance.
        painter.fillPath(symbolCutoutPath(name_, 80, center), Qt::white);
    }

private:
    QString name_;
    Color color_;
};

// The four page dots, the current one in the brand colour.
class PageDots final : public QWidget {
public:
    explicit PageDots(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(4 * 8 + 3 * 16, 8);
    }

    void setCurrent(int page)
    {
        current_ = page;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 4; ++i) {
            painter.setBrush(i == current_ ? Color::brandBlue().resolved() : Color::surfaceTertiary().resolved());
            painter.drawEllipse(QRectF(i * 24, 0, 8, 8));
        }
    }

private:
    int current_ = 0;
};

} // namespace

const std::array<MacOnboardingView::Page, 4>& MacOnboardingView::pages()
{
    static const std::array<Page, 4> all = {{
        {QStringLiteral("mic.circle.fill"), Color::brandBlue(), QStringLiteral("Parlino"),
            QStringLiteral("Record. Transcribe. Organize.\nUltra-fast, 100% offline.")},
        {QStringLiteral("globe"), Color::accentOrange(), QStringLiteral("99 Languages"),
            QStringLiteral("Best-in-class support for 99 languages worldwide.\nPowered by Auris — ultra-fast, ultra-accurate.")},
        {QStringLiteral("lock.shield.fill"), Color::successGreen(), QStringLiteral("100% Private"),
            QStringLiteral("All transcription happens on-device.\nYour audio never leaves your computer. Zero cloud. Zero tracking.")},
        {QStringLiteral("waveform.circle.fill"), Color::brandBlue(), QStringLiteral("Ready to Record"),
            QStringLiteral("Press Right Ctrl key (hold) or Caps Lock to dictate anywhere.\nOr click the microphone to start.")},
    }};
    return all;
}

MacOnboardingView::MacOnboardingView(platform::UserDefaults& defaults, AnimationClock& clock, QWidget* parent)
    : AnimatedWidget(clock, parent)
    , defaults_(defaults)
{
    setObjectName(QStringLiteral("onboardingView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(24);
    layout->addStretch(1);

    auto* symbol = new PageSymbol(this);
    symbol->setObjectName(QStringLiteral("onboardingSymbol"));
    symbol_ = symbol;
    layout->addWidget(symbol_, 0, Qt::AlignHCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(8);
    title_ = new PlainLabel(QString(), Font::displayLarge(), Color::textPrimary(), this);
    title_->setObjectName(QStringLiteral("onboardingTitle"));
    title_->setAlignment(Qt::AlignCenter);
    texts->addWidget(title_);
    subtitle_ = new PlainLabel(QString(), Font::bodyText(), Color::textSecondary(), this);
    subtitle_->setObjectName(QStringLiteral("onboardingSubtitle"));
    subtitle_->setAlignment(Qt::AlignCenter);
    subtitle_->setWordWrap(true);
    subtitle_->setContentsMargins(32, 0, 32, 0);
    texts->addWidget(subtitle_);
    layout->addLayout(texts);

    auto* dots = new PageDots(this);
    dots->setObjectName(QStringLiteral("onboardingDots"));
    dots_ = dots;
    layout->addWidget(dots_, 0, Qt::AlignHCenter);

    button_ = new QPushButton(this);
    button_->setObjectName(QStringLiteral("onboardingButton"));
    button_->setDefault(true);
    button_->setCursor(Qt::PointingHandCursor);
    button_->setMinimumWidth(140);
    button_->setFont(Font::textStyle(TextStyle::headline));
    button_->setStyleSheet(QStringLiteral(
        "QPushButton { background: %1; color: white; border: none; border-radius: 8px; padding: 8px 24px; }"
        "QPushButton:hover { background: %2; } QPushButton:pressed { background: %3; }")
            .arg(Color::brandBlue().resolved().name(), Color::brandBlue().resolved().lighter(108).name(),
                Color::brandIndigo().resolved().name()));
    connect(button_, &QPushButton::clicked, this, &MacOnboardingView::next);
    layout->addWidget(button_, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    showPage();
}

void MacOnboardingView::showPage()
{
    const Page& page = pages()[static_cast<std::size_t>(currentPage_)];
    static_cast<PageSymbol*>(symbol_)->setSymbol(page.icon, page.color);
    title_->setText(page.title);
    subtitle_->setText(page.subtitle);
    static_cast<PageDots*>(dots_)->setCurrent(currentPage_);
    button_->setText(currentPage_ <= 2 ? QStringLiteral("Next") : QStringLiteral("Get Started"));
}

void MacOnboardingView::next()
{
    if (currentPage_ >= 3) {
        defaults_.setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
        return;
    }
    ++currentPage_;
    showPage();
    // The new page's symbol and texts come in with the standard ease-out.
    pageFade_.jumpTo(0);
    pageFade_.animateTo(1, Animation::standardEaseOut(), now());
    advance();
}

bool MacOnboardingView::isAnimating() const
{
    // One more frame after the fade ends takes the fading effects off again.
    return pageFade_.isMoving(now()) || symbol_->graphicsEffect() != nullptr;
}

void MacOnboardingView::advance()
{
    const double opacity = pageFade_.value(now());
    for (QWidget* part : {symbol_, static_cast<QWidget*>(title_), static_cast<QWidget*>(subtitle_)}) {
        if (opacity >= 0.999) {
            part->setGraphicsEffect(nullptr);
            continue;
        }
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(part->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(part);
            part->setGraphicsEffect(effect);
        }
        effect->setOpacity(opacity);
    }
}

void MacOnboardingView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

} // namespace parlino
