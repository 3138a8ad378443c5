#pragma once

#include "app/recorder/Recording.hpp"

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace parlino {

// One load of the recordings folder: every audio file with the recording its sidecar describes,
// or a new record (and sidecar) for audio found without one, newest first. Unusable sidecars are
// set aside, repeated ids replaced. Touches no list and no object: it may run on any thread.
//
// A scan given the result of an earlier one reads again only the sidecars that changed on disk
// since (another size, time or file), so opening the list again costs a listing of the folder.
class FolderScan {
public:
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

    struct Outcome {
        // Why the folder could not be listed; nothing else is set then.
        std::optional<std::string> failure;
        QList<Recording> recordings;
        std::shared_ptr<const Memory> memory;
        // Anything other than what `earlier` held: a sidecar read or written, a file come or gone.
        bool changed = true;
    };

    // Larger sidecars are set aside unread: no recording's description comes near, and parsing
    // costs many times the size in memory.
    static constexpr std::size_t largestSidecar = std::size_t {16} << 20;

    static Outcome run(const std::filesystem::path& folder, const OrphanRecord& orphanRecord,
        const std::shared_ptr<const Memory>& earlier = nullptr);
};

} // namespace parlino
