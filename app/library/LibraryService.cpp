#include "app/library/LibraryService.hpp"

#include <algorithm>

namespace parlino {

LibraryService::LibraryService(QObject* parent)
    : QObject(parent)
{
}

LibraryService::~LibraryService() = default;

std::optional<Recording> LibraryService::recording(const QUuid& id) const
{
    const auto found = std::find_if(recordings_.begin(), recordings_.end(),
        [&](const Recording& recording) { return recording.id == id; });
    if (found == recordings_.end()) {
        return std::nullopt;
    }
    return *found;
}

void LibraryService::setRecordings(QList<Recording> recordings)
{
    recordings_ = std::move(recordings);
    emit recordingsChanged();
}

void LibraryService::setLatestSavedRecordingID(std::optional<QUuid> id)
{
    latestSavedRecordingID_ = id;
    emit latestSavedRecordingIDChanged();
}

} // namespace parlino
