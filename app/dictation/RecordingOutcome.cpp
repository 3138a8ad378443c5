#include "app/dictation/RecordingOutcome.hpp"

#include <QStringList>

namespace parlino {

namespace {

const QString laterHint = QStringLiteral("Use 'ReTranscribe' button later to add transcription");

} // namespace

std::optional<RecordingOutcome::Notice> RecordingOutcome::notice() const
{
    if (transcriptWouldBeLost()) {
        return std::nullopt;
    }
    if (saveFailure) {
        QString text = QStringLiteral("The recording could not be saved: ") + *saveFailure;
        if (copied) {
            text += QStringLiteral(". The transcript is on the clipboard");
        }
        return Notice {text, Tone::problem};
    }
    if (transcriptPending && saved) {
        const QString why = modelMissing ? QStringLiteral("No speech model is ready yet: saved without transcript. ")
                                         : QStringLiteral("Saved without transcript. ");
        return Notice {why + laterHint, Tone::problem};
    }
    if (!hasTranscript) {
        return Notice {saved ? QStringLiteral("Saved to Recordings. No speech was recognised")
                             : QStringLiteral("No speech was recognised"),
            saved ? Tone::good : Tone::problem};
    }
    QStringList done;
    if (pasted) {
        done << QStringLiteral("pasted");
    }
    if (copied) {
        done << QStringLiteral("copied to clipboard");
    }
    if (saved) {
        done << QStringLiteral("saved to Recordings");
    }
    QString text = QStringLiteral("Transcript ");
    for (qsizetype i = 0; i < done.size(); ++i) {
        if (i > 0) {
            text += i == done.size() - 1 ? QStringLiteral(" and ") : QStringLiteral(", ");
        }
        text += done[i];
    }
    return Notice {text, Tone::good};
}

} // namespace parlino
