#pragma once

#include "app/dictation/Clipboard.hpp"

#include <QDialog>

class QPlainTextEdit;

namespace parlino {

// The transcript of a recording that neither the clipboard nor the library keeps, shown over the
// window until the user copies it or closes the sheet, so that it is never thrown away unseen.
class TranscriptSheet : public QDialog {
    Q_OBJECT

public:
    TranscriptSheet(Clipboard& clipboard, const QString& transcript, QWidget* parent = nullptr);

    QString transcript() const;
    // Puts the transcript on the clipboard and closes the sheet.
    void copyTranscript();

    // Opens the sheet over `parent`'s window; it deletes itself when closed.
    static TranscriptSheet* present(Clipboard& clipboard, const QString& transcript, QWidget* parent);

signals:
    void copied();

private:
    Clipboard& clipboard_;
    QPlainTextEdit* text_ = nullptr;
};

} // namespace parlino
