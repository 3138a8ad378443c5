#pragma once

#include "platform/settings/UserDefaults.hpp"

#include <filesystem>
#include <string>
#include <thread>

namespace parlino {

// Removes the scratch files an earlier run left behind when it was killed: the hidden temporary
// files of whole-file writes in the library, the export folder and the scratch folder, preprocessed
// audio in the latter, and the cloud sync's scratch files. Only files of the names the program makes, and only those older
// than the sweep, so what this run writes meanwhile stays. Runs on a thread of its own (the export
// folder may be slow to reach); the destructor waits for it. Start it only once this launch is the
// user's one running program.
class LeftoverSweep {
public:
    struct Places {
        std::filesystem::path library;
        std::filesystem::path scratch;
        // The export folder's bookmark as the settings keep it; resolved on the sweep's thread.
        std::string exportBookmark;
        // The cloud sync's upload copies and fetched assets, swept whether the cloud is on or not.
        std::filesystem::path cloudUploads;
        std::filesystem::path cloudAssets;
    };

    // The library, the recorder's scratch folder, the chosen export folder and the cloud's caches.
    static Places standard(platform::UserDefaults& defaults);
    // Sweeps at once on this thread and returns the number of files removed; the scratch folder is
    // made private to the user on the way.
    static std::size_t sweep(const Places& places, std::filesystem::file_time_type before);

    explicit LeftoverSweep(Places places);
    ~LeftoverSweep() = default;
    LeftoverSweep(const LeftoverSweep&) = delete;
    LeftoverSweep& operator=(const LeftoverSweep&) = delete;

private:
    std::jthread thread_;
};

} // namespace parlino
