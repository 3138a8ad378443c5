#pragma once

#include "app/recorder/ConsoleLog.hpp"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace parlino {

// The recorder's view of the models the engine downloaded: <downloadBase>/models/<repository>/<model
// folder>. A model id names the one folder whose name ends with it, as the engine picks it (the one
// with "openai" in its name when several end with it). Nothing here looks outside that folder.
class ModelStore {
public:
    static constexpr const char* encoderBundleName = "AudioEncoder.mlmodelc";
    static constexpr const char* encoderPackageName = "AudioEncoder.mlpackage";

    explicit ModelStore(std::filesystem::path downloadBase, ConsoleLog log = {});

    // Letters, digits, ".", "_" and "-", and no "..": safe to use in a path and a download pattern.
    static bool isValidModelId(const QString& modelId);

    const std::filesystem::path& downloadBase() const { return downloadBase_; }
    // Where the engine keeps the repository's model folders.
    std::filesystem::path repositoryFolder() const;

    // The model's folder when there is one; the id must be valid.
    std::optional<std::filesystem::path> modelCacheFolder(const std::string& modelId) const;
    // The audio encoder's weight file of the model, when it exists.
    std::optional<std::filesystem::path> findModelFolder(const std::string& modelId) const;
    // The folder exists and holds something; logged either way.
    bool isModelCached(const std::string& modelId) const;
    // The folder holds an audio encoder.
    bool isModelComplete(const std::string& modelId) const;
    // The size of the file itself; nothing is summed.
    static std::optional<std::uint64_t> modelFolderSize(const std::filesystem::path& url);
    // The bytes the audio encoder's description says its weight file holds.
    std::optional<std::uint64_t> expectedWeightBytes(const std::string& modelId) const;
    // Removes the model's folder and nothing else; true when something was removed.
    bool deleteModelCache(const std::string& modelId) const;

private:
    void print(const std::string& line) const;

    std::filesystem::path downloadBase_;
    ConsoleLog log_;
};

} // namespace parlino
