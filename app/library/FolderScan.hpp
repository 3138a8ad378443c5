#pragma once

#include "app/library/LibraryScan.hpp"
#include "app/recorder/Recording.hpp"

#include <QList>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace parlino {

// One load of the recordings folder: the folder listed, the listing made into recordings
// (LibraryScan), the sidecars that scan staged put in place, and the list sorted newest first.
// Touches no list and no object: it may run on any thread.
//
// A scan given the result of an earlier one reads again only the sidecars that changed on disk
// since (another size, time or file), so opening the list again costs a listing of the folder.
class FolderScan {
public:
    using Stamp = LibraryScan::Stamp;
    using Known = LibraryScan::Known;
    using Memory = LibraryScan::Memory;
    using OrphanRecord = LibraryScan::OrphanRecord;

    struct Outcome {
        // Why the folder could not be listed; nothing else is set then.
        std::optional<std::string> failure;
        QList<Recording> recordings;
        std::shared_ptr<const Memory> memory;
        // Anything other than what `earlier` held: a sidecar read or written, a file come or gone.
        bool changed = true;
    };

    static constexpr std::size_t largestSidecar = LibraryScan::largestSidecar;

    static Outcome run(const std::filesystem::path& folder, const OrphanRecord& orphanRecord,
        const std::shared_ptr<const Memory>& earlier = nullptr);
};

} // namespace parlino
