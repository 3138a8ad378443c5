#include "app/library/FolderScan.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/LibraryFolder.hpp"

#include <algorithm>

namespace parlino {

namespace {

struct FolderListing {
    std::vector<std::filesystem::path> audioFiles;
    std::optional<std::string> failure;
};

// The folder's audio files by name: the folder's own order is arbitrary, and by name equal dates
// come out the same at every load.
FolderListing listAudioFiles(const std::filesystem::path& folder)
{
    FolderListing listing;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        // Hidden names and other extensions are files still being written, among others.
        std::error_code typeError;
        if (LibraryFolder::isAudioName(entry.path().filename()) && entry.is_regular_file(typeError)) {
            listing.audioFiles.push_back(entry.path());
        }
    }
    if (error) {
        listing.failure = error.message();
        listing.audioFiles.clear();
        return listing;
    }
    std::sort(listing.audioFiles.begin(), listing.audioFiles.end());
    return listing;
}

// Puts the staged sidecars in place together and says how each went.
void commit(LibraryScan& scan)
{
    const std::vector<std::exception_ptr> results = scan.sidecars->commit();
    for (std::size_t index = 0; index < results.size(); ++index) {
        const auto& [audioURL, doneLine] = scan.writes[index];
        if (results[index]) {
            printLine(QStringLiteral("⚠️ Failed to load ") + QString::fromStdString(audioURL.filename().string())
                + QStringLiteral(": ") + describe(results[index]));
        } else {
            printLine(doneLine);
        }
    }
}

} // namespace

FolderScan::Outcome FolderScan::run(
    const std::filesystem::path& folder, const OrphanRecord& orphanRecord, const std::shared_ptr<const Memory>& earlier)
{
    Outcome outcome;
    const FolderListing listing = listAudioFiles(folder);
    if (listing.failure) {
        outcome.failure = listing.failure;
        return outcome;
    }
    printLine(QStringLiteral("📂 Found %1 audio files").arg(listing.audioFiles.size()));

    LibraryScan scan = LibraryScan::of(listing.audioFiles, orphanRecord, earlier);
    for (const QString& line : scan.lines) {
        printLine(line);
    }
    commit(scan);

    outcome.recordings = std::move(scan.recordings);
    // Stable: recordings of the same date keep their order.
    std::stable_sort(outcome.recordings.begin(), outcome.recordings.end(),
        [](const Recording& a, const Recording& b) { return a.date > b.date; });
    outcome.changed = scan.changed;
    outcome.memory = std::move(scan.memory);
    return outcome;
}

} // namespace parlino
