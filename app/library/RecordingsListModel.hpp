#pragma once

#include "app/library/LibraryService.hpp"

#include <QAbstractListModel>

namespace parlino {

// The library's recordings, newest first, as a list model for the screens; one row per recording,
// following every change of the library.
class RecordingsListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        TitleRole,
        TranscriptionRole,
        DurationRole,
        DateRole,
        CategoryRole,
        AudioURLRole,
    };

    explicit RecordingsListModel(LibraryService& library, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    // The display role is the title; the category role holds the category's raw value, the audio
    // role the file's path.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    std::optional<Recording> recordingAt(int row) const;
    // The row's recording where the library holds it, without a copy: for a pass over every row.
    // Valid until the library's next change; nullptr past the end.
    const Recording* entryAt(int row) const;

private:
    LibraryService& library_;
};

} // namespace parlino
