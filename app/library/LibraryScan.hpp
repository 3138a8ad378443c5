#pragma once

#include "app/recorder/Recording.hpp"
#include "platform/system/AtomicFileBatch.hpp"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace parlino {

// How a listing of the recordings folder becomes its recordings: every audio file with the recording
// its sidecar describes, or a new record for audio found without one; unusable sidecars set aside,
// repeated ids resolved. The sidecars to make or rewrite are staged, not yet in place, and the console
// lines are kept in order, not printed: the caller commits the one and prints the other. Touches no
// list and no object: it may run on any thread.
//
// Given what an earlier scan read, it reads again only the sidecars that changed on disk since
// (another size, time or file).
struct LibraryScan {
    // What a sidecar was on disk when it was read.
    struct Stamp {
        std::uintmax_t size = 0;
        std::int64_t modified = 0;
        std::int64_t changed = 0;
        std::uintmax_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Known {
        Stamp sidecar;
        Recording recording;
        // Whether the sidecar's own audio path named the file beside it (a copy's names another).
        bool namesItsAudio = true;
    };
    // The sidecars a scan read, by the name of their audio file.
    using Memory = QHash<QString, Known>;
    // The record for audio without a sidecar; throws when the audio cannot be read.
    using OrphanRecord = std::function<Recording(const std::filesystem::path& audioURL)>;
    // A staged sidecar: the line to print once it is in place.
    struct SidecarWrite {
        std::filesystem::path audioURL;
        QString doneLine;
    };

    // Larger sidecars are set aside unread: no recording's description comes near, and parsing
    // costs many times the size in memory.
    static constexpr std::size_t largestSidecar = std::size_t {16} << 20;

    // In the listing's order.
    QList<Recording> recordings;
    // One write per staged file of `sidecars`, in the same order.
    std::unique_ptr<platform::AtomicFileBatch> sidecars = std::make_unique<platform::AtomicFileBatch>();
    std::vector<SidecarWrite> writes;
    // The new names of the sidecars moved out of the way.
    std::vector<std::filesystem::path> setAside;
    QStringList lines;
    std::shared_ptr<const Memory> memory;
    // Anything other than what `earlier` held: a sidecar read or written, a file come or gone.
    bool changed = true;

    // `audioFiles`: the folder's audio files, sorted.
    static LibraryScan of(const std::vector<std::filesystem::path>& audioFiles, const OrphanRecord& orphanRecord,
        const std::shared_ptr<const Memory>& earlier = nullptr);
};

} // namespace parlino
