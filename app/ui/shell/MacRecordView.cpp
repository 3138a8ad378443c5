#include "app/ui/shell/MacRecordView.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "app/ui/shell/MacReadyToRecordView.hpp"
#include "app/ui/shell/MacRecordingInProgressView.hpp"
#include "app/ui/design/SheetWindow.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/PNGradientText.hpp"
#include "app/ui/design/PNProgressRing.hpp"
#include "app/ui/design/ScreenTransition.hpp"
#include "platform/system/ExceptionText.hpp"

#include <QGridLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <exception>

namespace parlino {

using namespace design;

namespace {

QWidget* ringWithOverlay(PNProgressRing* ring, QWidget* overlay, int side, QWidget* parent)
{
    auto* box = new QWidget(parent);
    box->setFixedSize(side, side);
    ring->setParent(box);
    ring->setFixedSize(side, side);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(ring, 0, 0, Qt::AlignCenter);
    grid->addWidget(overlay, 0, 0, Qt::AlignCenter);
    return box;
}

// How each screen comes and goes when the change is animated; the two panels only fade.
ScreenMotion insertionOf(MacRecordView::Screen screen)
{
    switch (screen) {
    case MacRecordView::Screen::inProgress: return ScreenMotion::scaleAndOpacity(0.85);
    case MacRecordView::Screen::ready: return ScreenMotion::scaleAndOpacity(0.9);
    default: return ScreenMotion::opacity();
    }
}

ScreenMotion removalOf(MacRecordView::Screen screen)
{
    switch (screen) {
    case MacRecordView::Screen::inProgress: return ScreenMotion::scaleAndOpacity(1.1);
    case MacRecordView::Screen::ready: return ScreenMotion::scaleAndOpacity(0.85);
    default: return ScreenMotion::opacity();
    }
}

QString percentText(double fraction)
{
    return QString::number(static_cast<qint64>(fraction * 100)) + QLatin1Char('%');
}

} // namespace

MacRecordView::MacRecordView(AppServices& services, BoolBinding& autoStart,
    std::function<void(const RecordingResult&)> onRecordingComplete, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , autoStart_(autoStart)
    , onRecordingComplete_(std::move(onRecordingComplete))
{
    setObjectName(QStringLiteral("recordView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("recordScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);

    screens_ = new QStackedWidget;
    screens_->setFocusPolicy(Qt::ClickFocus);
    screens_->setAutoFillBackground(false);
    screens_->setContentsMargins(40, 40, 40, 40);
    // Both screens of a swap are on screen while it runs; the view hides the others itself.
    static_cast<QStackedLayout*>(screens_->layout())->setStackingMode(QStackedLayout::StackAll);
    scroll->setWidget(screens_);
    transition_ = new ScreenTransition(services_.clock, this);

    const RecorderService& recorder = services_.recorder;
    inProgress_ = new MacRecordingInProgressView(
        services_, recorder.transcription(), recorder.recordingDuration(), [this] { stopRecording(); });
    preprocessing_ = preprocessingView();
    transcribing_ = transcribingView();
    ready_ = new MacReadyToRecordView(services_, [this] { startRecording(); });
    screens_->addWidget(inProgress_);
    screens_->addWidget(preprocessing_);
    screens_->addWidget(transcribing_);
    screens_->addWidget(ready_);

    RecorderService* observed = &services_.recorder;
    for (const auto signal : {&RecorderService::isRecordingChanged, &RecorderService::isPreprocessingChanged,
             &RecorderService::isTranscribingChanged}) {
        connect(observed, signal, this, &MacRecordView::selectScreen);
    }
    connect(observed, &RecorderService::transcriptionChanged, this,
        [this] { inProgress_->setTranscription(services_.recorder.transcription()); });
    connect(observed, &RecorderService::recordingDurationChanged, this,
        [this] { inProgress_->setDuration(services_.recorder.recordingDuration()); });
    connect(observed, &RecorderService::preprocessingStatusChanged, this, &MacRecordView::updateProgress);
    connect(observed, &RecorderService::transcriptionProgressChanged, this, &MacRecordView::updateProgress);
    connect(observed, &RecorderService::transcriptionETAChanged, this, &MacRecordView::updateProgress);
    connect(observed, &RecorderService::recordingInterrupted, this, [this](const QString& message) {
        showProblem(QStringLiteral("Recording stopped"), message);
        stopRecording();
    });
    // Asked for while the screen is already showing (the hotkey pressed on the Record screen).
    connect(&autoStart_, &BoolBinding::valueChanged, this, [this](bool value) {
        if (value && isVisible()) {
            checkAutoStart();
        }
    });
    wasRecording_ = recorder.isRecording();
    wasTranscribing_ = recorder.isTranscribing();
    selectScreen();
    updateProgress();
}

QWidget* MacRecordView::preprocessingView()
{
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("preprocessingPanel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setSpacing(24);
    layout->addStretch(1);
    auto* ring = new PNProgressRing(services_.clock, 0.5, 5, LinearGradient::infoGradient());
    auto* icon = new PNGradientIcon(QStringLiteral("waveform.badge.magnifyingglass"), 28, LinearGradient::infoGradient());
    layout->addWidget(ringWithOverlay(ring, icon, 80, panel), 0, Qt::AlignHCenter);
    auto* title = new PlainLabel(QStringLiteral("Preprocessing audio..."), Font::titleMedium(), Color::textPrimary(), panel);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    preprocessingStatus_ = new PlainLabel(QString(), Font::captionText(), Color::textSecondary(), panel);
    preprocessingStatus_->setObjectName(QStringLiteral("preprocessingStatus"));
    preprocessingStatus_->setAlignment(Qt::AlignCenter);
    // Shown even when empty: the line keeps its height.
    preprocessingStatus_->setMinimumHeight(QFontMetrics(Font::captionText()).height());
    layout->addWidget(preprocessingStatus_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return panel;
}

QWidget* MacRecordView::transcribingView()
{
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("transcribingPanel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setSpacing(24);
    layout->addStretch(1);

    transcribingRing_ = new PNProgressRing(services_.clock, 0, 6, LinearGradient::infoGradient());
    auto* centre = new QWidget;
    auto* centreLayout = new QVBoxLayout(centre);
    centreLayout->setContentsMargins(0, 0, 0, 0);
    centreLayout->setSpacing(2);
    centreLayout->addWidget(
        new PNGradientIcon(QStringLiteral("text.badge.checkmark"), 24, LinearGradient::infoGradient()), 0,
        Qt::AlignHCenter);
    transcribingPercent_ = new PNGradientText(services_.clock, QStringLiteral("0%"), Font::system(11, QFont::Bold),
        LinearGradient({Color::infoCyan()}, UnitPoint::leading, UnitPoint::trailing), true, std::nullopt);
    transcribingPercent_->setObjectName(QStringLiteral("transcribingPercent"));
    centreLayout->addWidget(transcribingPercent_, 0, Qt::AlignHCenter);
    layout->addWidget(ringWithOverlay(transcribingRing_, centre, 100, panel), 0, Qt::AlignHCenter);

    auto* title = new PlainLabel(QStringLiteral("Transcribing..."), Font::titleMedium(), Color::textPrimary(), panel);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    transcriptionETA_ = new PlainLabel(QString(), Font::captionText(), Color::textSecondary(), panel);
    transcriptionETA_->setObjectName(QStringLiteral("transcriptionETA"));
    transcriptionETA_->setAlignment(Qt::AlignCenter);
    layout->addWidget(transcriptionETA_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return panel;
}

MacRecordView::Screen MacRecordView::screenFor(const RecorderService& recorder)
{
    if (recorder.isRecording()) {
        return Screen::inProgress;
    }
    if (recorder.isPreprocessing()) {
        return Screen::preprocessing;
    }
    if (recorder.isTranscribing()) {
        return Screen::transcribing;
    }
    return Screen::ready;
}

QWidget* MacRecordView::pageOf(Screen screen) const
{
    switch (screen) {
    case Screen::inProgress: return inProgress_;
    case Screen::preprocessing: return preprocessing_;
    case Screen::transcribing: return transcribing_;
    case Screen::ready: return ready_;
    }
    return ready_;
}

void MacRecordView::selectScreen()
{
    const Screen previous = screen_;
    screen_ = screenFor(services_.recorder);
    QWidget* page = pageOf(screen_);
    if (screen_ == Screen::inProgress) {
        inProgress_->setTranscription(services_.recorder.transcription());
        inProgress_->setDuration(services_.recorder.recordingDuration());
    }
    // The spring runs when recording or transcribing changes; a change of preprocessing alone swaps at once.
    const bool animated = services_.recorder.isRecording() != wasRecording_
        || services_.recorder.isTranscribing() != wasTranscribing_;
    wasRecording_ = services_.recorder.isRecording();
    wasTranscribing_ = services_.recorder.isTranscribing();
    if (previous == screen_ && screensPlaced_) {
        return;
    }
    screensPlaced_ = true;

    // Only the shown screen counts for the scrolled size, so short panels need no scrolling.
    for (int i = 0; i < screens_->count(); ++i) {
        QWidget* screen = screens_->widget(i);
        screen->setSizePolicy(screen == page ? QSizePolicy::Preferred : QSizePolicy::Ignored,
            screen == page ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    }
    const bool focusLeaves = screens_->currentWidget() != page;
    transition_->finish();
    screens_->setCurrentWidget(page);
    for (int i = 0; i < screens_->count(); ++i) {
        screens_->widget(i)->setVisible(screens_->widget(i) == page);
    }
    if (animated && previous != screen_ && isVisible()) {
        transition_->run(pageOf(previous), removalOf(previous), page, insertionOf(screen_), Animation::smoothSpring());
    }
    screens_->adjustSize();
    if (focusLeaves) {
        // The focus stays on no field of the screen that is gone or of the one that came.
        screens_->setFocus();
    }
}

void MacRecordView::updateProgress()
{
    const RecorderService& recorder = services_.recorder;
    preprocessingStatus_->setText(recorder.preprocessingStatus());
    transcribingRing_->setProgress(recorder.transcriptionProgress());
    transcribingPercent_->setText(percentText(recorder.transcriptionProgress()));
    transcriptionETA_->setText(recorder.transcriptionETA());
    transcriptionETA_->setVisible(!recorder.transcriptionETA().isEmpty());
}

void MacRecordView::startRecording()
{
    // A second click while a start is under way would start the recorder twice.
    if (startInFlight_ || services_.recorder.isRecording()) {
        return;
    }
    beginStart(false);
}

void MacRecordView::beginStart(bool endsAutoStart)
{
    startInFlight_ = true;
    services_.recorder.startRecording([self = QPointer(this), endsAutoStart](std::exception_ptr error) {
        if (!self) {
            return;
        }
        self->startInFlight_ = false;
        if (endsAutoStart) {
            self->autoStart_.setValue(false);
        }
        if (error) {
            self->startFailed(error);
        }
    });
}

void MacRecordView::startFailed(const std::exception_ptr& error)
{
    const QString reason = QString::fromStdString(platform::exceptionText(error));
    consoleLine(QStringLiteral("Failed to start recording: ") + reason);
    showProblem(QStringLiteral("Recording could not start"), QStringLiteral("Recording could not start: ") + reason);
}

void MacRecordView::showProblem(const QString& title, const QString& message)
{
    if (!problemAlert_) {
        problemAlert_ = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::Ok, this);
        problemAlert_->setObjectName(QStringLiteral("recordingProblemAlert"));
        problemAlert_->setAttribute(Qt::WA_DeleteOnClose);
        design::SheetWindow::apply(*problemAlert_);
        problemAlert_->setWindowModality(Qt::WindowModal);
    }
    problemAlert_->setWindowTitle(title);
    problemAlert_->setText(message);
    problemAlert_->open();
}

void MacRecordView::stopRecording()
{
    // A second stop would get an empty result and report it as a failed save. A stop during the
    // start waits for it in the recorder.
    if (stopInFlight_ || (!services_.recorder.isRecording() && !startInFlight_)) {
        return;
    }
    stopInFlight_ = true;
    services_.recorder.stopRecording([self = QPointer(this)](RecordingResult result) {
        if (!self) {
            return;
        }
        self->stopInFlight_ = false;
        if (self->onRecordingComplete_) {
            self->onRecordingComplete_(result);
        }
    });
}

void MacRecordView::checkAutoStart()
{
    if (!autoStart_.value()) {
        return;
    }
    if (services_.recorder.isRecording() || services_.recorder.isTranscribing() || startInFlight_) {
        return;
    }
    beginStart(true);
}

void MacRecordView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        checkAutoStart();
    }
}

void MacRecordView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), LinearGradient::backgroundTintGradient().brush(QRectF(rect())));
}

} // namespace parlino
