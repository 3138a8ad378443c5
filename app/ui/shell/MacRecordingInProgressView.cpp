#include "app/ui/shell/MacRecordingInProgressView.hpp"

#include "app/ui/shell/ClickAction.hpp"
#include "app/ui/shell/RecordingOptionsView.hpp"
#include "app/ui/design/FoldingScrollArea.hpp"
#include "app/ui/design/Gap.hpp"
#include "app/ui/design/DurationFormatting.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/PNButton.hpp"
#include "app/ui/design/PNFloatingParticles.hpp"
#include "app/ui/design/PNGlassModifier.hpp"
#include "app/ui/design/PNGradientText.hpp"
#include "app/ui/design/PNRecordingPulse.hpp"
#include "app/ui/design/PNShimmerModifier.hpp"
#include "app/ui/design/PNWaveformBars.hpp"

#include <QGraphicsOpacityEffect>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace parlino {

using namespace design;

namespace {
constexpr int transcriptPadding = 16;
constexpr int transcriptMaximumWidth = 600;
constexpr int transcriptMaximumHeight = 200;
constexpr int transcriptMinimumHeight = 64;
} // namespace

MacRecordingInProgressView::MacRecordingInProgressView(AppServices& services, QString transcription,
    double duration, std::function<void()> onStop, QWidget* parent)
    : QWidget(parent)
    , transcription_(std::move(transcription))
    , duration_(duration)
    , onStop_(std::move(onStop))
{
    setObjectName(QStringLiteral("recordingInProgressView"));

    particles_ = new PNFloatingParticles(services.clock, Color::accentOrange(), 10, services.randomSeed, this);
    particles_->setObjectName(QStringLiteral("floatingParticles"));
    auto* faded = new QGraphicsOpacityEffect(particles_);
    faded->setOpacity(0.5);
    particles_->setGraphicsEffect(faded);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Spacing 32 between the parts as laid out; the pulse's rings and the button's shadow draw
    // past their layout frames, so the gaps next to them are shortened by that much.
    layout->setSpacing(0);
    layout->setAlignment(Qt::AlignCenter);
    auto* pulse = new PNRecordingPulse(services.clock, 65, 160, this);
    pulse->setObjectName(QStringLiteral("recordingPulse"));
    pulse->setAccessibleName(QStringLiteral("Stop Recording"));
    ClickAction::install(*pulse, [this] {
        if (onStop_) {
            onStop_();
        }
    });
    layout->addWidget(pulse, 0, Qt::AlignHCenter);
    // The gaps give way on a short screen so that the stop button stays in view.
    const int belowPulse = 32 - pulse->overflow();
    addGap(layout, belowPulse, std::min(8, belowPulse));

    auto* bars = new PNWaveformBars(services.clock, 9, Color::accentOrange(), 35, this);
    bars->setObjectName(QStringLiteral("waveformBars"));
    layout->addWidget(bars, 0, Qt::AlignHCenter);
    addGap(layout, 32, 8);

    timer_ = new PNGradientText(services.clock, formattedDurationPadded(duration_), Font::timerDisplay(),
        LinearGradient::warmGradient(), true, PNGlowModifier{Color::accentOrange(), 12}, this);
    timer_->setObjectName(QStringLiteral("recordingTimer"));
    layout->addWidget(timer_, 0, Qt::AlignHCenter);
    addGap(layout, 32, 8);

    liveTranscript_ = new PNGlassModifier(liveTranscriptView(), this);
    liveTranscript_->setObjectName(QStringLiteral("liveTranscript"));
    liveTranscript_->setMaximumWidth(transcriptMaximumWidth);
    liveTranscript_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(liveTranscript_, 0, Qt::AlignHCenter);

    listening_ = new PNShimmerModifier(services.clock, QStringLiteral("Listening..."),
        Font::textStyle(TextStyle::title2), Color::textSecondary(), this);
    listening_->setObjectName(QStringLiteral("listeningText"));
    layout->addWidget(listening_, 0, Qt::AlignHCenter);
    addGap(layout, 32, 8);

    auto* options = new FoldingScrollArea(new RecordingOptionsView(
        services.defaults, services.clock, true, services.library.canSyncWithCloud()), 64, this);
    options->setObjectName(QStringLiteral("recordingOptionsScroll"));
    layout->addWidget(options, 0, Qt::AlignHCenter);
    addGap(layout, 32 - PNButton::shadowMargins().top(), 4);

    auto* stop = new PNButton(services.clock, QStringLiteral("Stop Recording"), QStringLiteral("stop.fill"),
        PNButton::Style::danger, PNButton::Size::large, false, [this] {
            if (onStop_) {
                onStop_();
            }
        });
    stop->setObjectName(QStringLiteral("stopRecordingButton"));
    layout->addWidget(stop, 0, Qt::AlignHCenter);

    setTranscription(transcription_);
}

QWidget* MacRecordingInProgressView::liveTranscriptView()
{
    transcriptScroll_ = new QScrollArea;
    transcriptScroll_->setObjectName(QStringLiteral("liveTranscriptScroll"));
    transcriptScroll_->setFrameShape(QFrame::NoFrame);
    transcriptScroll_->setWidgetResizable(true);
    transcriptScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    transcriptScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    transcriptScroll_->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    transcriptText_ = new PlainLabel(QString(), Font::textStyle(TextStyle::body), Color::textPrimary());
    transcriptText_->setObjectName(QStringLiteral("liveTranscriptText"));
    transcriptText_->setWordWrap(true);
    transcriptText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    transcriptText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    transcriptText_->setContentsMargins(transcriptPadding, transcriptPadding, transcriptPadding, transcriptPadding);
    transcriptScroll_->setWidget(transcriptText_);
    return transcriptScroll_;
}

void MacRecordingInProgressView::setTranscription(const QString& transcription)
{
    const bool scrolledToEnd = transcriptScroll_->verticalScrollBar()->value()
        >= transcriptScroll_->verticalScrollBar()->maximum() - 4;
    transcription_ = transcription;
    const bool live = !transcription_.isEmpty();
    transcriptText_->setText(transcription_);
    liveTranscript_->setVisible(live);
    listening_->setVisible(!live);
    fitTranscript();
    if (live && scrolledToEnd) {
        // Keep the newest words in view while they arrive.
        transcriptScroll_->verticalScrollBar()->setValue(transcriptScroll_->verticalScrollBar()->maximum());
    }
}

void MacRecordingInProgressView::setDuration(double duration)
{
    duration_ = duration;
    timer_->setText(formattedDurationPadded(duration_));
}

void MacRecordingInProgressView::fitTranscript()
{
    const int width = std::min(transcriptMaximumWidth, std::max(200, this->width()));
    liveTranscript_->setFixedWidth(width);
    const int textHeight = transcriptText_->heightForWidth(width);
    // As tall as the text up to its maximum; a short screen may take it down to a few lines,
    // and it scrolls.
    const int height = std::min(transcriptMaximumHeight, std::max(textHeight, 40));
    liveTranscript_->setMaximumHeight(height);
    liveTranscript_->setMinimumHeight(std::min(height, transcriptMinimumHeight));
}

void MacRecordingInProgressView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    particles_->setGeometry(rect());
    particles_->lower();
    fitTranscript();
}

} // namespace parlino
