#include "app/library/LibraryService.hpp"

#include <utility>

namespace parlino {

LibraryService::LibraryService(QObject* parent)
    : QObject(parent)
{
}

LibraryService::~LibraryService() = default;

std::optional<Recording> LibraryService::recording(const QUuid& id) const
{
    const std::optional<qsizetype> index = indexOf(id);
    if (!index) {
        return std::nullopt;
    }
    return recordings_[*index];
}

std::optional<qsizetype> LibraryService::indexOf(const QUuid& id) const
{
    if (!positions_) {
        positions_.emplace();
        positions_->reserve(recordings_.size());
        // The first of equal ids, as a scan would find it.
        for (qsizetype index = recordings_.size() - 1; index >= 0; --index) {
            positions_->insert(recordings_[index].id, index);
        }
    }
    const auto found = positions_->constFind(id);
    if (found == positions_->cend()) {
        return std::nullopt;
    }
    return *found;
}

void LibraryService::setRecordings(QList<Recording> recordings)
{
    recordings_ = std::move(recordings);
    positions_.reset();
    emit recordingsChanged();
}

QList<Recording> LibraryService::takeRecordings()
{
    positions_.reset();
    return std::exchange(recordings_, {});
}

void LibraryService::setLatestSavedRecordingID(std::optional<QUuid> id)
{
    latestSavedRecordingID_ = id;
    emit latestSavedRecordingIDChanged();
}

} // namespace parlino
