#pragma once

#include "Hub/HubApi.hpp"
#include "Hub/Progress.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace auris {

// Makes a model folder from a model's original checkpoint on the hub ("model.safetensors", or the
// parts of a sharded one, with "config.json" and "generation_config.json"): the files are
// downloaded into the hub download tree, compiled into a hidden folder beside the model folder and
// renamed into place once all three models open, so that nothing half-made is ever where the engine
// looks. One compilation at a time runs per model repository folder, across processes. The
// checkpoint's weights are removed once compiled; after a failure that lies in what the hub served,
// its files are removed too, so that the next attempt fetches them anew.
class CheckpointCompiler {
public:
    using ProgressCallback = std::function<void(const hub::Progress&)>;

    // Parts of the progress tree's 100 units: the weights' bytes, then compiling.
    static constexpr std::int64_t downloadUnits = 90;
    static constexpr std::int64_t compileUnits = 10;

    CheckpointCompiler(const hub::HubApi& hubApi, std::string checkpointRepository, std::filesystem::path modelFolder);

    // Whether the folder holds the three models a compilation writes and each of them opens.
    static bool isComplete(const std::filesystem::path& modelFolder);

    // The model folder, compiled unless a complete one is there. The repository's listing comes
    // first and its failure (HubClientError::authorizationRequired where there is no such
    // repository) leaves nothing on disk.
    std::filesystem::path compile(const ProgressCallback& progressCallback = {}) const;

private:
    struct CheckpointFiles {
        std::vector<std::string> configurations; // fetched first, not counted in the progress
        std::string weights;                     // "model.safetensors" or the index
        bool sharded = false;
    };

    CheckpointFiles chooseFiles(const std::vector<std::string>& listing) const;
    void fetch(const std::string& file, const std::function<void(double)>& fraction = {}) const;
    void removeFiles(const std::vector<std::string>& names) const;

    const hub::HubApi& hubApi_;
    hub::Repo repo_;
    std::filesystem::path modelFolder_;
};

} // namespace auris
