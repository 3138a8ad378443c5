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
    auto* contentLayout = new QVBoxLayout(content);
    transcript_ = new PlainLabel(QString(), Font::textStyle(TextStyle::body), Color::textPrimary(), content);
    transcript_->setObjectName(QStringLiteral("detailTranscript"));
    transcript_->setWordWrap(true);
    transcript_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    transcript_->setCursor(Qt::IBeamCursor);
    transcript_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    contentLayout->addWidget(transcript_);
    transcriptCard_ = glassCard(content, 16, 8, block);
    transcriptCard_->setObjectName(QStringLiteral("transcriptCard"));
    layout->addWidget(transcriptCard_);

    QFont italic = Font::textStyle(TextStyle::body);
    italic.setItalic(true);
    noTranscript_ = new PlainLabel(QStringLiteral("No transcription available"), italic, Color::textSecondary(), block);
    noTranscript_->setObjectName(QStringLiteral("noTranscription"));
    layout->addWidget(noTranscript_);
    return block;
}

void RecordingDetailView::refreshTranscript(const Recording& shown)
{
    const bool hasTranscript = !shown.transcription.isEmpty();
    if (transcript_->text() != shown.transcription) {
        transcript_->setText(shown.transcription);
    }
    transcriptCard_->setVisible(hasTranscript);
    noTranscript_->setVisible(!hasTranscript);
    sendToAI_->setVisible(hasTranscript);
}

} // namespace parlino
