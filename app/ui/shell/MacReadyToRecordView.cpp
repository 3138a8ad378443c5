#include "app/ui/shell/MacReadyToRecordView.hpp"

#include "app/ui/shell/ClickAction.hpp"
#include "app/ui/shell/RecordingOptionsView.hpp"
#include "app/ui/design/FoldingScrollArea.hpp"
#include "app/ui/design/Gap.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/PNButton.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/PNGradientText.hpp"
#include "app/ui/design/PNProgressRing.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/RevealBox.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace parlino {

using namespace design;

namespace {

// The emblem: a soft blue halo and the gradient microphone, floating up and down by 4 points.
class HeroIcon final : public AnimatedWidget {
public:
    explicit HeroIcon(AnimationClock& clock, QWidget* parent)
        : AnimatedWidget(clock, parent)
        , float_(4)
    {
        // On a short screen it gives up height first, drawn smaller, so the start button stays in view.
        setMinimumSize(side, minimumSide);
        setMaximumSize(side, side);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    }

    QSize sizeHint() const override { return {side, side}; }
    QSize minimumSizeHint() const override { return {side, minimumSide}; }

    void startFloat() { float_.animateTo(-4, Animation::slowPulseLoop(), now()); }
    void stopFloat() { float_.jumpTo(4); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const double scale = std::min(1.0, height() / double(side));
        painter.translate(QRectF(rect()).center());
        painter.scale(scale, scale);
        painter.translate(-side / 2.0, -side / 2.0);
        painter.drawImage(QPointF(0, 0), halo());
        const QPointF center = QPointF(side / 2.0, side / 2.0) + QPointF(0, float_.value(now()));
        const QPainterPath icon = symbolPath(QStringLiteral("mic.circle.fill"), 110, center);
        paintSoftShadow(painter, icon, Color::brandBlue().opacity(0.3).resolved(), 25);
        PNGradientIcon::paint(painter, QStringLiteral("mic.circle.fill"), 110, LinearGradient::primaryGradient(), center);
        // White in both appearances; open, it would be near-black on the dark background.
        painter.fillPath(symbolCutoutPath(QStringLiteral("mic.circle.fill"), 110, center), Qt::white);
    }

private:
    const QImage& halo()
    {
        const double scale = devicePixelRatioF();
        if (!halo_.isNull() && halo_.devicePixelRatio() == scale) {
            return halo_;
        }
        QImage image(QSize(250, 250) * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            QRadialGradient glow(QPointF(125, 125), 120, QPointF(125, 125));
            // Start radius 30 of 120: the first stop holds to a quarter of the radius.
            glow.setColorAt(0.25, Color::brandBlue().opacity(0.12).resolved());
            glow.setColorAt(0.625, Color::brandIndigo().opacity(0.04).resolved());
            glow.setColorAt(1, QColor(0, 0, 0, 0));
            glow.setColorAt(0, Color::brandBlue().opacity(0.12).resolved());
            p.setPen(Qt::NoPen);
            p.setBrush(glow);
            p.drawEllipse(QPointF(125, 125), 125, 125);
        }
        halo_ = blurredImage(image, 20 * scale);
        halo_.setDevicePixelRatio(scale);
        return halo_;
    }

    static constexpr int side = 250;
    static constexpr int minimumSide = 96;

    AnimatedValue float_;
    QImage halo_;
};

QWidget* overlaid(QWidget* back, QWidget* front, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(back, 0, 0, Qt::AlignCenter);
    grid->addWidget(front, 0, 0, Qt::AlignCenter);
    return box;
}

} // namespace

MacReadyToRecordView::MacReadyToRecordView(AppServices& services, std::function<void()> onStart, QWidget* parent)
    : AnimatedWidget(services.clock, parent)
    , services_(services)
    , onStart_(std::move(onStart))
{
    setObjectName(QStringLiteral("readyToRecordView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Spacing 32 between the parts; the download section carries its own gap so that none is
    // left when it is hidden, and the button's shadow room shortens the gap above it.
    layout->setSpacing(0);
    layout->setAlignment(Qt::AlignCenter);
    downloadSection_ = modelDownloadSection();
    layout->addWidget(downloadSection_, 0, Qt::AlignHCenter);
    missingSection_ = modelMissingSection();
    layout->addWidget(missingSection_, 0, Qt::AlignHCenter);

    auto* hero = new HeroIcon(services.clock, this);
    hero->setObjectName(QStringLiteral("heroIcon"));
    hero->setAccessibleName(QStringLiteral("Start Recording"));
    ClickAction::install(*hero, [this] {
        if (onStart_) {
            onStart_();
        }
    });
    layout->addWidget(hero, 0, Qt::AlignHCenter);
    addGap(layout, 32, 8);

    auto* title = new PlainLabel(QStringLiteral("Ready to Record"), Font::displayLarge(), Color::textPrimary(), this);
    title->setObjectName(QStringLiteral("readyTitle"));
    title->setAlignment(Qt::AlignCenter);
    title_ = new RevealBox(title, this);
    layout->addWidget(title_, 0, Qt::AlignHCenter);
    addGap(layout, 32, 8);

    badge_ = new RevealBox(privacyBadge(), this);
    layout->addWidget(badge_, 0, Qt::AlignHCenter);
    addGap(layout, 32, 8);

    // The panel scrolls in what room is left rather than push the button off the screen.
    auto* options = new FoldingScrollArea(new RecordingOptionsView(
        services.defaults, services.clock, false, services.library.canSyncWithCloud()), 72);
    options->setObjectName(QStringLiteral("readyOptionsScroll"));
    options_ = new RevealBox(options, this);
    layout->addWidget(options_, 0, Qt::AlignHCenter);

    addGap(layout, 32 - PNButton::shadowMargins().top(), 4);
    auto* start = new PNButton(services.clock, QStringLiteral("Start Recording"), QStringLiteral("mic.fill"),
        PNButton::Style::primary, PNButton::Size::large, false, [this] {
            if (onStart_) {
                onStart_();
            }
        });
    start->setObjectName(QStringLiteral("startRecordingButton"));
    startButton_ = new RevealBox(start, this);
    layout->addWidget(startButton_, 0, Qt::AlignHCenter);

    connect(&services_.recorder, &RecorderService::isInitializingAurisChanged, this,
        &MacReadyToRecordView::updateModelDownload);
    connect(&services_.recorder, &RecorderService::aurisInitProgressChanged, this,
        &MacReadyToRecordView::updateModelDownload);
    for (auto signal : {&RecorderService::aurisReadyChanged, &RecorderService::modelFailureChanged}) {
        connect(&services_.recorder, signal, this, &MacReadyToRecordView::updateModelDownload);
    }
    updateModelDownload();
    applyEntrance();
}

QWidget* MacReadyToRecordView::modelDownloadSection()
{
    auto* section = new QWidget(this);
    section->setObjectName(QStringLiteral("modelDownloadSection"));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    downloadRing_ = new PNProgressRing(services_.clock, 0, 4, LinearGradient::warmGradient(), section);
    downloadRing_->setFixedSize(60, 60);
    auto* percent = new PNGradientText(services_.clock, QStringLiteral("0%"), Font::system(11, QFont::Bold),
        LinearGradient({Color::warningAmber()}, UnitPoint::leading, UnitPoint::trailing), true, std::nullopt, section);
    percent->setObjectName(QStringLiteral("modelDownloadPercent"));
    downloadPercentText_ = percent;
    layout->addWidget(overlaid(downloadRing_, percent, section), 0, Qt::AlignHCenter);

    auto* label = new PlainLabel(QStringLiteral("Downloading model..."), Font::textStyle(TextStyle::subheadline),
        Color::warningAmber(), section);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label, 0, Qt::AlignHCenter);

    auto* cancel = new QPushButton(escapedMnemonic(QStringLiteral("Cancel Download")), section);
    cancel->setObjectName(QStringLiteral("cancelDownloadButton"));
    cancel->setCursor(Qt::PointingHandCursor);
    cancel->setStyleSheet(QStringLiteral("QPushButton { color: %1; }").arg(Color::dangerRed().resolved().name()));
    connect(cancel, &QPushButton::clicked, this, [this] { services_.recorder.cancelModelDownload(); });
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    addGap(layout, 32, 4);
    return section;
}

QWidget* MacReadyToRecordView::modelMissingSection()
{
    auto* section = new QWidget(this);
    section->setObjectName(QStringLiteral("modelMissingSection"));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* line = new QWidget(section);
    auto* lineLayout = new QHBoxLayout(line);
    lineLayout->setContentsMargins(0, 0, 0, 0);
    lineLayout->setSpacing(8);
    auto* warning = new QLabel(line);
    warning->setPixmap(symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), Color::warningAmber().resolved(), 16)
            .pixmap(16, 16));
    lineLayout->addWidget(warning);
    missingText_ = new PlainLabel(QString(), Font::textStyle(TextStyle::subheadline), Color::warningText(), line);
    missingText_->setObjectName(QStringLiteral("modelMissingText"));
    lineLayout->addWidget(missingText_);
    layout->addWidget(line, 0, Qt::AlignHCenter);

    auto* retry = new QPushButton(escapedMnemonic(QStringLiteral("Try Again")), section);
    retry->setObjectName(QStringLiteral("retryModelButton"));
    retry->setCursor(Qt::PointingHandCursor);
    connect(retry, &QPushButton::clicked, this, [this] {
        QMetaObject::invokeMethod(this, [this] { services_.recorder.switchModel(services_.recorder.whisperModel()); },
            Qt::QueuedConnection);
    });
    layout->addWidget(retry, 0, Qt::AlignHCenter);
    addGap(layout, 32, 4);
    return section;
}

QWidget* MacReadyToRecordView::privacyBadge()
{
    auto* badge = new QWidget(this);
    badge->setObjectName(QStringLiteral("privacyBadge"));
    auto* layout = new QHBoxLayout(badge);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* shield = new QLabel(badge);
    shield->setPixmap(symbolIcon(QStringLiteral("lock.shield.fill"), Color::successGreen().resolved(), 16).pixmap(16, 16));
    layout->addWidget(shield);
    layout->addWidget(new PlainLabel(QStringLiteral("100% Private (Auris)"), Font::textStyle(TextStyle::subheadline),
        Color::textSecondary(), badge));
    return badge;
}

void MacReadyToRecordView::updateModelDownload()
{
    const bool loading = services_.recorder.isInitializingAuris();
    downloadSection_->setVisible(loading);
    const auto& failure = services_.recorder.modelFailure();
    const bool missing = !loading && !services_.recorder.aurisReady() && failure;
    if (missing) {
        missingText_->setText(QStringLiteral("Speech model missing: ") + failure->reasonText());
    }
    missingSection_->setVisible(missing);
    const double progress = services_.recorder.aurisInitProgress();
    downloadRing_->setProgress(progress);
    downloadPercentText_->setText(QString::number(static_cast<qint64>(progress * 100)) + QLatin1Char('%'));
}

void MacReadyToRecordView::appear()
{
    iconFloat_ = true;
    appeared_ = true;
    if (auto* hero = findChild<HeroIcon*>(QStringLiteral("heroIcon"))) {
        hero->stopFloat();
        hero->startFloat();
    }
    entrance_.jumpTo(0);
    entrance_.animateTo(1, Animation::smoothSpring().delay(0.1), now());
    applyEntrance();
}

bool MacReadyToRecordView::isAnimating() const
{
    // One more frame after the spring rests puts everything at its final place.
    return entrance_.isMoving(now()) || title_->revealOpacity() < 0.999 || title_->revealOffset() != 0;
}

void MacReadyToRecordView::advance()
{
    applyEntrance();
}

void MacReadyToRecordView::applyEntrance()
{
    const double e = entrance_.value(now());
    const double opacity = std::clamp(e, 0.0, 1.0);
    const bool done = !entrance_.isMoving(now());
    title_->setReveal(done ? 1 : opacity, done ? 0 : 15 * (1 - e));
    badge_->setReveal(done ? 1 : opacity, 0);
    options_->setReveal(done ? 1 : opacity, 0);
    startButton_->setReveal(done ? 1 : opacity, done ? 0 : 20 * (1 - e));
}

} // namespace parlino
