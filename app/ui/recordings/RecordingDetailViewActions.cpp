#include "app/ui/recordings/RecordingDetailView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/ui/recordings/RecordingRow.hpp"
#include "app/ui/design/Animation.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/BorderedButton.hpp"
#include "app/ui/design/DurationFormatting.hpp"
#include "app/ui/design/FlowLayout.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/PNGlassModifier.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/RevealBox.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace parlino {

using namespace design;

namespace {

constexpr int readinessSleeps = 30;

constexpr Clock::Duration readinessSleep{1000};

constexpr qsizetype previewLength = 100;

QString fileName(const std::filesystem::path& path)
{
    return QString::fromStdString(path.filename().string());
}

} // namespace

QWidget* RecordingDetailView::actionCard()
{
    auto* row = new QWidget;
    auto* layout = new FlowLayout(12, 12, row);
    copy_ = new BorderedButton(clock(), QStringLiteral("Copy"), QStringLiteral("doc.on.clipboard"),
        BorderedButton::Prominence::bordered, std::nullopt, row);
    copy_->setObjectName(QStringLiteral("copyButton"));
    copy_->setToolTip(QStringLiteral("Copy transcription to clipboard"));
    connect(copy_, &QAbstractButton::clicked, this, &RecordingDetailView::copyTranscription);
    layout->addWidget(copy_);

    play_ = new BorderedButton(clock(), QStringLiteral("Play"), QStringLiteral("play.fill"),
        BorderedButton::Prominence::prominent, Color::brandBlue(), row);
    play_->setObjectName(QStringLiteral("playButton"));
    connect(play_, &QAbstractButton::clicked, this, [this] {
        const std::function<void()>& action = isPlaying_ ? onStop_ : onPlay_;
        if (action) {
            action();
        }
    });
    layout->addWidget(play_);
    playbackPosition_ = new PlainLabel(QString(), Font::textStyle(TextStyle::callout), Color::textSecondary(), row);
    playbackPosition_->setObjectName(QStringLiteral("playbackPosition"));
    playbackPosition_->hide();
    layout->addWidget(playbackPosition_);

    reTranscribe_ = new BorderedButton(clock(), QStringLiteral("ReTranscribe"),
        QStringLiteral("waveform.badge.magnifyingglass"), BorderedButton::Prominence::bordered, Color::brandBlue(), row);
    reTranscribe_->setObjectName(QStringLiteral("reTranscribeButton"));
    reTranscribe_->setToolTip(QStringLiteral("Re-transcribe audio with current language settings"));
    connect(reTranscribe_, &QAbstractButton::clicked, this, &RecordingDetailView::reTranscribe);
    layout->addWidget(reTranscribe_);

    delete_ = new BorderedButton(clock(), QStringLiteral("Delete"), QStringLiteral("trash"),
        BorderedButton::Prominence::bordered, Color::dangerRed(), row);
    delete_->setObjectName(QStringLiteral("deleteButton"));
    connect(delete_, &QAbstractButton::clicked, this, [this] {
        if (onDelete_) {
            onDelete_();
        }
    });
    layout->addWidget(delete_);

    auto* card = glassCard(row, 12, 12, this);
    card->setObjectName(QStringLiteral("actionCard"));
    card->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return card;
}

void RecordingDetailView::refreshActions()
{
    playbackPosition_->setText(playbackPositionText());
    playbackPosition_->setVisible(!playbackPosition_->text().isEmpty());
    play_->setLabel(isPlaying_ ? QStringLiteral("Stop") : QStringLiteral("Play"),
        isPlaying_ ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"), BorderedButton::Prominence::prominent);
    const bool busyHere = reTranscribing_ && reTranscribing_ == recordingID_;
    reTranscribe_->setEnabled(!reTranscribing_);
    reTranscribe_->setBusy(busyHere);
    if (busyHere) {
        reTranscribe_->setLabel(QStringLiteral("Transcribing..."), std::nullopt, BorderedButton::Prominence::bordered);
        reTranscribe_->setMetrics(Font::textStyle(TextStyle::caption, QFont::Medium), 13, QMargins(12, 6, 12, 6));
    } else {
        reTranscribe_->setLabel(QStringLiteral("ReTranscribe"), QStringLiteral("waveform.badge.magnifyingglass"),
            BorderedButton::Prominence::bordered);
        reTranscribe_->setMetrics(Font::textStyle(TextStyle::callout, QFont::Medium), 13, QMargins(12, 6, 12, 6));
    }
}

void RecordingDetailView::copyTranscription()
{
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    services_.clipboard.clearContents();
    if (!shown->transcription.isEmpty()) {
        services_.clipboard.setText(shown->transcription);
        consoleLine(QStringLiteral("✅ Copied transcription to clipboard"));
    } else {
        services_.clipboard.setText(shown->title);
        consoleLine(QStringLiteral("✅ Copied title to clipboard (no transcription)"));
    }
}

void RecordingDetailView::reTranscribe()
{
    if (reTranscribing_) {
        consoleLine(QStringLiteral("⚠️ Re-transcription already in progress"));
        return;
    }
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    consoleLine(QStringLiteral("🔄 Re-transcribing recording: ") + shown->title);
    consoleLine(QStringLiteral("   Audio file: ") + fileName(shown->audioURL));
    consoleLine(QStringLiteral("   Current transcription length: %1 chars").arg(characterCount(shown->transcription)));
    reTranscribing_ = shown->id;
    refreshActions();
    QMetaObject::invokeMethod(
        this, [this, run = *shown] { performReTranscription(run); }, Qt::QueuedConnection);
}

void RecordingDetailView::performReTranscription(const Recording& recording)
{
    consoleLine(QStringLiteral("🎤 Using WhisperRecorder.shared"));
    const bool ready = services_.recorder.aurisReady();
    consoleLine(QStringLiteral("   Auris ready: ") + (ready ? QStringLiteral("true") : QStringLiteral("false")));
    if (ready) {
        transcribeWhenReady(recording);
        return;
    }
    const RecorderService& recorder = services_.recorder;
    if (giveUpWithoutModel()) {
        return;
    }
    StatusNotice::post(*this, services_.timer,
        recorder.isInitializingAuris() ? QStringLiteral("Waiting for the speech model to finish downloading...")
                                       : QStringLiteral("Waiting for the speech model to load..."),
        StatusNotice::Kind::waiting);
    consoleLine(QStringLiteral("⏳ Waiting for Auris to initialize..."));
    waitForAuris(recording, 0);
}

void RecordingDetailView::waitForAuris(const Recording& recording, int sleeps)
{
    // Readiness is looked at before each of at most 30 one-second sleeps; after the last sleep
    // only the final look follows.
    if (sleeps < readinessSleeps) {
        if (services_.recorder.aurisReady()) {
            consoleLine(QStringLiteral("✅ Auris ready after %1s").arg(sleeps));
            transcribeWhenReady(recording);
            return;
        }
        if (giveUpWithoutModel()) {
            return;
        }
        services_.timer.schedule(
            readinessSleep, this, [this, recording, sleeps] { waitForAuris(recording, sleeps + 1); });
        return;
    }
    transcribeWhenReady(recording);
}

bool RecordingDetailView::giveUpWithoutModel()
{
    const RecorderService& recorder = services_.recorder;
    // A model that failed or whose download was cancelled is not on its way: waiting would only
    // show a busy button for the rest of half a minute.
    if (recorder.aurisReady() || recorder.isInitializingAuris()
        || (!recorder.modelFailure() && !recorder.modelDownloadCancelled())) {
        return false;
    }
    consoleLine(QStringLiteral("❌ FATAL: Auris not ready (no speech model is loading)"));
    QString why = QStringLiteral("Cannot transcribe: no speech model is ready");
    if (recorder.modelFailure()) {
        why += QStringLiteral(" (") + recorder.modelFailure()->reasonText() + QLatin1Char(')');
    }
    StatusNotice::post(*this, services_.timer, why + QStringLiteral(". Get one in Settings, then use ReTranscribe again"));
    endReTranscription();
    return true;
}

void RecordingDetailView::transcribeWhenReady(const Recording& recording)
{
    if (!services_.recorder.aurisReady()) {
        consoleLine(QStringLiteral("❌ FATAL: Auris not ready after 30s"));
        StatusNotice::post(*this, services_.timer,
            QStringLiteral("The speech model is still not ready. Use ReTranscribe again once it is"));
        endReTranscription();
        return;
    }
    transcribe(recording);
}

void RecordingDetailView::transcribe(const Recording& recording)
{
    consoleLine(QStringLiteral("🎯 Starting transcription..."));
    // The library outlives every screen: the result is stored even when this pane has gone.
    LibraryService* library = &services_.library;
    const QPointer<RecordingDetailView> self(this);
    services_.recorder.transcribeExistingFile(
        recording.audioURL, [self, library, recording](const QString& text, std::exception_ptr error) {
            const auto finish = [self] {
                if (self) {
                    self->endReTranscription();
                }
            };
            const auto say = [self](const QString& why) {
                if (self) {
                    StatusNotice::post(*self, self->services_.timer, why);
                }
            };
            const auto reportFailure = [&](const QString& description) {
                consoleLine(QStringLiteral("❌ Re-transcription failed with error:"));
                consoleLine(QStringLiteral("   Error: ") + description);
                consoleLine(QStringLiteral("   Localized: ") + description);
                say(QStringLiteral("Re-transcription failed: ") + description);
                finish();
            };
            if (error) {
                reportFailure(describe(error));
                return;
            }
            consoleLine(QStringLiteral("📝 Transcription result: %1 chars").arg(characterCount(text)));
            consoleLine(QStringLiteral("   Preview: ") + characterPrefix(text, previewLength) + QStringLiteral("..."));
            if (text.isEmpty()) {
                consoleLine(QStringLiteral("❌ FATAL: Empty transcription returned"));
                say(QStringLiteral("No speech was recognised; the transcript was left as it was"));
                finish();
                return;
            }
            consoleLine(QStringLiteral("💾 Updating RecordingsManager..."));
            try {
                library->updateTranscription(recording, text);
            } catch (const std::exception& failure) {
                reportFailure(describe(failure));
                return;
            }
            consoleLine(QStringLiteral("✅ Re-transcription completed successfully!"));
            consoleLine(
                QStringLiteral("   New transcription: ") + characterPrefix(text, previewLength) + QStringLiteral("..."));
            finish();
        });
}

void RecordingDetailView::endReTranscription()
{
    reTranscribing_.reset();
    refreshActions();
}

} // namespace parlino
