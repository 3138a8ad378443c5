#include "app/ui/recordings/RecordingsFilter.hpp"

#include "app/library/RecordingsListModel.hpp"
#include "app/ui/recordings/MacRecordingsListView.hpp"

namespace parlino {

RecordingsFilter::RecordingsFilter(RecordingsListModel& source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , source_(source)
{
    setSourceModel(&source);
    setDynamicSortFilter(false);
}

void RecordingsFilter::setCriteria(std::optional<RecordingCategory> category, const QString& searchText)
{
    category_ = category;
    searchText_ = searchText;
    invalidateFilter();
}

bool RecordingsFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    // Every row on every change of the library: read in place, not copied.
    const Recording* recording = source_.entryAt(sourceRow);
    return recording && MacRecordingsListView::matches(*recording, category_, searchText_);
}

} // namespace parlino
