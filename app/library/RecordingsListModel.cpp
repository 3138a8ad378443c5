#include "app/library/RecordingsListModel.hpp"

namespace parlino {

RecordingsListModel::RecordingsListModel(LibraryService& library, QObject* parent)
    : QAbstractListModel(parent)
    , library_(library)
{
    connect(&library_, &LibraryService::recordingsChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

int RecordingsListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(library_.recordings().size());
}

QVariant RecordingsListModel::data(const QModelIndex& index, int role) const
{
    const std::optional<Recording> recording = recordingAt(index.row());
    if (!index.isValid() || !recording) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole: return recording->title;
    case IdRole: return recording->id;
    case TranscriptionRole: return recording->transcription;
    case DurationRole: return recording->duration;
    case DateRole: return recording->date;
    case CategoryRole: return recording->category.rawValue();
    case AudioURLRole: return QString::fromStdString(recording->audioURL.string());
    default: return {};
    }
}

QHash<int, QByteArray> RecordingsListModel::roleNames() const
{
    return {
        {IdRole, "id"},
        {TitleRole, "title"},
        {TranscriptionRole, "transcription"},
        {DurationRole, "duration"},
        {DateRole, "date"},
        {CategoryRole, "category"},
        {AudioURLRole, "audioURL"},
    };
}

std::optional<Recording> RecordingsListModel::recordingAt(int row) const
{
    const Recording* entry = entryAt(row);
    if (!entry) {
        return std::nullopt;
    }
    return *entry;
}

const Recording* RecordingsListModel::entryAt(int row) const
{
    const QList<Recording>& recordings = library_.recordings();
    if (row < 0 || row >= recordings.size()) {
        return nullptr;
    }
    return &recordings[row];
}

} // namespace parlino
