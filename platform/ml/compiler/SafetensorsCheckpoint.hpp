#pragma once

#include "platform/ml/compiler/SafetensorsFile.hpp"
#include "platform/system/BoundedJson.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ml {

// The tensors of a checkpoint, kept in one ".safetensors" file or split over several that a
// "model.safetensors.index.json" lists ({"weight_map": {tensor name: file name beside the index}}).
class SafetensorsCheckpoint {
public:
    static constexpr const char* singleFileName = "model.safetensors";
    static constexpr const char* indexFileName = "model.safetensors.index.json";
    // The JSON files that come with a checkpoint (its index, its configurations) are small.
    static constexpr std::size_t maximumJsonSize = 16u << 20;

    // A path ending in ".json" is read as an index, anything else as one safetensors file. Throws
    // SafetensorsError naming the file (and tensor) at fault.
    explicit SafetensorsCheckpoint(const std::filesystem::path& path);

    // The part files an index names, each once, in the order first named. Names that are not plain
    // file names beside the index throw SafetensorsError.
    static std::vector<std::string> partNames(const std::filesystem::path& indexFile);
    // One of those JSON files: a regular file of at most maximumJsonSize bytes, parsed within the
    // limits. Throws SafetensorsError naming the file.
    static nlohmann::json readJsonFile(const std::filesystem::path& file, const platform::BoundedJson::Limits& limits);

    const std::filesystem::path& path() const { return path_; }
    // Every tensor name, sorted.
    std::vector<std::string> names() const;
    bool contains(const std::string& name) const { return owners_.contains(name); }
    const SafetensorsFile::Entry& entry(const std::string& name) const;
    std::vector<float> floats(const std::string& name) const;
    // The file that holds the tensor.
    const std::filesystem::path& fileOf(const std::string& name) const;

private:
    const SafetensorsFile& owner(const std::string& name) const;

    std::filesystem::path path_;
    std::vector<std::unique_ptr<SafetensorsFile>> files_;
    std::map<std::string, const SafetensorsFile*> owners_;
};

} // namespace ml
