#include "app/ui/shell/TranscriptSheet.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/settings/SettingsSection.hpp"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

TranscriptSheet::TranscriptSheet(Clipboard& clipboard, const QString& transcript, QWidget* parent)
    : QDialog(parent)
    , clipboard_(clipboard)
{
    setObjectName(QStringLiteral("transcriptSheet"));
    setWindowTitle(QStringLiteral("Transcript"));
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
        & ~(Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(formText(QStringLiteral("Transcript not kept"), TextStyle::headline, Color::textPrimary(), this));
    auto* why = formText(QStringLiteral("Copy to clipboard and Save to Recordings are both off, so this text is "
                                        "only here. Copy it before closing."),
        TextStyle::subheadline, Color::textSecondary(), this);
    why->setWordWrap(true);
    layout->addWidget(why);

    QWidget* surface = formTextBox(text_, this);
    text_->setObjectName(QStringLiteral("transcriptSheetText"));
    text_->setReadOnly(true);
    text_->setPlainText(transcript);
    text_->setMinimumHeight(96);
    layout->addWidget(surface, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    QPushButton* close = formButton(QStringLiteral("Close"), ButtonProminence::standard, this);
    close->setObjectName(QStringLiteral("closeTranscriptButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    QPushButton* copy = formButton(QStringLiteral("Copy"), ButtonProminence::prominent, this);
    copy->setObjectName(QStringLiteral("copyTranscriptButton"));
    copy->setDefault(true);
    connect(copy, &QPushButton::clicked, this, &TranscriptSheet::copyTranscript);
    buttons->addWidget(close);
    buttons->addWidget(copy);
    layout->addLayout(buttons);
    resize(460, 300);
}

QString TranscriptSheet::transcript() const
{
    return text_->toPlainText();
}

void TranscriptSheet::copyTranscript()
{
    clipboard_.replaceText(transcript());
    emit copied();
    accept();
}

TranscriptSheet* TranscriptSheet::present(Clipboard& clipboard, const QString& transcript, QWidget* parent)
{
    auto* sheet = new TranscriptSheet(clipboard, transcript, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
    return sheet;
}

} // namespace parlino
