#pragma once

#include "app/recorder/RecordingCategory.hpp"

#include <QDateTime>
#include <QHashFunctions>
#include <QString>
#include <QUuid>

#include <filesystem>
#include <functional>
#include <optional>

namespace parlino {

// One saved recording, as the library keeps it in memory and in the JSON sidecar beside its audio.
// Equality and hashing look at `id` alone.
struct Recording {
    QUuid id;
    std::filesystem::path audioURL;
    QString title;
    QString transcription;
    double duration = 0;
    QDateTime date;
    RecordingCategory category = RecordingCategory::personal;
    std::optional<QString> cloudKitRecordID;
    std::optional<QDateTime> syncedAt;
    std::optional<QString> deviceID;

    friend bool operator==(const Recording& a, const Recording& b) { return a.id == b.id; }
};

inline size_t qHash(const Recording& recording, size_t seed = 0)
{
    return qHash(recording.id, seed);
}

} // namespace parlino

template <>
struct std::hash<parlino::Recording> {
    size_t operator()(const parlino::Recording& recording) const { return qHash(recording.id); }
};
