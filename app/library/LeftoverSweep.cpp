#include "app/library/LeftoverSweep.hpp"

#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/CloudScratchFiles.hpp"
#include "app/library/FolderExportManager.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/recorder/AudioPreprocessor.hpp"
#include "app/recorder/RecorderFolders.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/FileBookmark.hpp"
#include "platform/system/ScratchFolder.hpp"

namespace parlino {

namespace {

using platform::ScratchFolder;

// File times come from a coarser clock than now(); what this run writes is always newer than this.
constexpr std::chrono::seconds clockMargin {2};

bool isScratch(std::string_view name)
{
    return AudioPreprocessor::isScratchName(name) || platform::AtomicFileWriter::isTemporaryName(name);
}

} // namespace

LeftoverSweep::Places LeftoverSweep::standard(platform::UserDefaults& defaults)
{
    const QByteArray bookmark = defaults.dataValue(QString::fromLatin1(FolderExportManager::bookmarkKey));
    return {
        .library = RecordingsManager::defaultDocumentsURL(),
        .scratch = RecorderFolders::standard().temporary,
        .exportBookmark = bookmark.toStdString(),
        .cloudUploads = CloudKitSyncManager::standardUploadsFolder(),
        .cloudAssets = platform::cloud::CloudConfiguration::fromEnvironment().resolvedAssetCacheFolder(),
    };
}

std::size_t LeftoverSweep::sweep(const Places& places, std::filesystem::file_time_type before)
{
    std::size_t removed = ScratchFolder::removeLeftovers(places.library, &platform::AtomicFileWriter::isTemporaryName, before);
    try {
        removed += ScratchFolder::removeLeftovers(ScratchFolder(places.scratch).path(), &isScratch, before);
    } catch (const std::filesystem::filesystem_error&) {
        // A scratch folder that cannot be made holds nothing to remove; its first user reports it.
    }
    if (!places.cloudUploads.empty() && !places.cloudAssets.empty()) {
        removed += CloudScratchFiles(places.cloudUploads, places.cloudAssets).removeLeftovers(places.library, before);
    }
    if (places.exportBookmark.empty()) {
        return removed;
    }
    try {
        const platform::FileBookmark::Resolution exportFolder = platform::FileBookmark::resolve(places.exportBookmark);
        if (!exportFolder.isStale) {
            removed += ScratchFolder::removeLeftovers(exportFolder.path, &platform::AtomicFileWriter::isTemporaryName, before);
        }
    } catch (const platform::FileBookmarkError&) {
        // The export manager says so when it loads the bookmark.
    }
    return removed;
}

LeftoverSweep::LeftoverSweep(Places places)
    : thread_([places = std::move(places), before = std::filesystem::file_time_type::clock::now() - clockMargin] { sweep(places, before); })
{
}

} // namespace parlino
