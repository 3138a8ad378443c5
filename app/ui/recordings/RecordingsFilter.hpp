#pragma once

#include "app/recorder/Recording.hpp"

#include <QSortFilterProxyModel>
#include <QString>

#include <optional>

namespace parlino {

class RecordingsListModel;

// The library's rows that pass the recordings pane's category filter and search.
class RecordingsFilter final : public QSortFilterProxyModel {
public:
    RecordingsFilter(RecordingsListModel& source, QObject* parent);

    void setCriteria(std::optional<RecordingCategory> category, const QString& searchText);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    RecordingsListModel& source_;
    std::optional<RecordingCategory> category_;
    QString searchText_;
};

} // namespace parlino
