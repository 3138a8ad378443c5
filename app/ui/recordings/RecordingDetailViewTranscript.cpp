#include "app/ui/recordings/RecordingDetailView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/ConsoleLog.hpp"
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

QWidget* RecordingDetailView::transcriptionBlock()
{
    auto* block = new QWidget(this);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(heading(QStringLiteral("doc.text"), LinearGradient::primaryGradient(), QStringLiteral("Transcription")));

    auto* content = new QWidget;
    transcriptPieces_ = new QVBoxLayout(content);
    transcriptPieces_->setSpacing(0);
    transcript_ = transcriptLabel(content);
    transcript_->setObjectName(QStringLiteral("detailTranscript"));
    transcriptPieces_->addWidget(transcript_);
    transcriptCard_ = glassCard(content, 16, 8, block);
    transcriptCard_->setObjectName(QStringLiteral("transcriptCard"));
    layout->addWidget(transcriptCard_);

    QFont italic = Font::textStyle(TextStyle::body);
    italic.setItalic(true);
    noTranscript_ = new PlainLabel(QStringLiteral("No transcription available"), italic, Color::textSecondary(), block);
    noTranscript_->setObjectName(QStringLiteral("noTranscription"));
    layout->addWidget(noTranscript_);
    noTranscriptHint_ = new PlainLabel(QStringLiteral("Use 'ReTranscribe' button later to add transcription"),
        Font::textStyle(TextStyle::subheadline), Color::textSecondary(), block);
    noTranscriptHint_->setObjectName(QStringLiteral("noTranscriptionHint"));
    noTranscriptHint_->setWordWrap(true);
    layout->addWidget(noTranscriptHint_);
    return block;
}

PlainLabel* RecordingDetailView::transcriptLabel(QWidget* parent)
{
    auto* label = new PlainLabel(QString(), Font::textStyle(TextStyle::body), Color::textPrimary(), parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

qsizetype RecordingDetailView::transcriptPieceEnd(const QString& text, qsizetype from)
{
    if (text.size() - from <= transcriptPieceLength) {
        return text.size();
    }
    qsizetype end = from + transcriptPieceLength;
    // Between words where one is near, never inside a surrogate pair.
    const qsizetype space = text.lastIndexOf(QLatin1Char(' '), end - 1);
    if (space > end - transcriptPieceLength / 10) {
        return space + 1;
    }
    if (text.at(end - 1).isHighSurrogate()) {
        --end;
    }
    return end;
}

void RecordingDetailView::showTranscript(const QString& transcription)
{
    shownTranscript_ = transcription;
    for (PlainLabel* piece : morePieces_) {
        delete piece;
    }
    morePieces_.clear();
    transcriptShown_ = transcriptPieceEnd(transcription, 0);
    transcript_->setText(transcription.left(transcriptShown_));
}

void RecordingDetailView::showNextTranscriptPiece()
{
    if (transcriptShown_ >= shownTranscript_.size()) {
        return;
    }
    const qsizetype end = transcriptPieceEnd(shownTranscript_, transcriptShown_);
    PlainLabel* piece = transcriptLabel(transcript_->parentWidget());
    piece->setObjectName(QStringLiteral("detailTranscriptMore"));
    piece->setText(shownTranscript_.mid(transcriptShown_, end - transcriptShown_));
    transcriptPieces_->addWidget(piece);
    morePieces_.push_back(piece);
    transcriptShown_ = end;
}

void RecordingDetailView::refreshTranscript(const Recording& shown)
{
    const bool hasTranscript = !shown.transcription.isEmpty();
    // A transcript of any length is shown a piece at a time: laying out all of a long one would stall the window.
    const bool sameText = shownTranscript_.constData() == shown.transcription.constData()
        && shownTranscript_.size() == shown.transcription.size();
    if (!sameText && shownTranscript_ != shown.transcription) {
        showTranscript(shown.transcription);
    }
    transcriptCard_->setVisible(hasTranscript);
    noTranscript_->setVisible(!hasTranscript);
    noTranscriptHint_->setVisible(!hasTranscript);
    sendToAI_->setVisible(hasTranscript);
}

} // namespace parlino
