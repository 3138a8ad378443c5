#pragma once

#include "app/recorder/Recording.hpp"

#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace parlino {

// One saved recording as a line of the recordings list: a round category badge, the title on one
// line, a metadata line (category symbol, date, duration, category name) and, when there is a
// transcript, two lines of it. Drawn by the list's delegate; it has no actions of its own.
class RecordingRow {
public:
    explicit RecordingRow(Recording recording);

    const Recording& recording() const { return recording_; }

    // The date as the locale writes it in full, without the weekday: "March 2, 2025".
    static QString dateText(const QDateTime& date);
    // The date as above and the time the locale writes short: "March 2, 2025, 14:30".
    static QString dateAndTimeText(const QDateTime& date);
    // "March 2, 2025, 14:30 • 1:15 • Work", after the category symbol; the time tells the
    // recordings of one day apart.
    QString metadataText() const;
    // The pieces of the metadata that fit in `width` points after the symbol, the last one cut
    // with an ellipsis when it does not fit whole.
    QStringList metadataLine(double width) const;
    bool showsPreview() const { return !recording_.transcription.isEmpty(); }
    // The line shown instead of the preview while the recording has no transcript.
    static QString missingTranscriptText() { return QStringLiteral("No transcript yet"); }
    // What fits of the title in one line of `width` points.
    QString titleLine(double width) const;
    // The transcript in at most two lines of `width` points, the last cut with an ellipsis.
    QStringList previewLines(double width) const;

    // The row's height, with its padding, for a list row of any width.
    int height() const;
    // Draws the row into `area`, enlarged about its centre by `scale`.
    void paint(QPainter& painter, const QRectF& area, double scale) const;

    static constexpr double badgeSide = 36;
    static constexpr double spacing = 12;
    static constexpr double verticalPadding = 4;

private:
    Recording recording_;
};

} // namespace parlino
