#pragma once

#include "app/recorder/Recording.hpp"

#include <QByteArray>

#include <stdexcept>
#include <string>

namespace parlino {

// A sidecar that cannot be read as a recording: a missing required key, a value of the wrong type,
// an unreadable date, URL or category.
class RecordingDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The sidecar form of a recording: one compact JSON object, keys in a fixed order, dates as ISO 8601
// in UTC with whole seconds, slashes escaped as "\/", optional keys left out when absent.
QByteArray encodeRecording(const Recording& recording);
// Keys in any order, either form of slash, unknown keys ignored. Throws RecordingDecodingError.
Recording decodeRecording(const QByteArray& json);

// "2025-01-31T14:30:00Z"; the fraction of a second is cut off.
QString iso8601Text(const QDateTime& date);
// Only the whole-second UTC form above; nullopt for anything else.
std::optional<QDateTime> dateFromISO8601(const QString& text);

} // namespace parlino
