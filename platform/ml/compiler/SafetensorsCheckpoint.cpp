#include "platform/ml/compiler/SafetensorsCheckpoint.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <algorithm>

namespace ml {

namespace {

// The index's tensor-to-file map, checked for shape and for names that stay beside the index.
std::vector<std::pair<std::string, std::string>> readWeightMap(const std::filesystem::path& indexFile)
{
    auto fail = [&](const std::string& what) -> void { throw SafetensorsError(indexFile.string() + ": " + what); };
    std::ifstream stream(indexFile, std::ios::binary);
    if (!stream) {
        fail("cannot be opened");
    }
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(stream);
    } catch (const nlohmann::json::exception&) {
        fail("is not valid JSON");
    }
    const auto map = root.is_object() ? root.find("weight_map") : root.end();
    if (!root.is_object() || map == root.end() || !map->is_object()) {
        fail("has no \"weight_map\" object");
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& [tensor, file] : map->items()) {
        if (!file.is_string()) {
            fail("tensor \"" + tensor + "\" has no file name");
        }
        const auto& name = file.get_ref<const std::string&>();
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
            || name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) {
            fail("tensor \"" + tensor + "\" names the file \"" + name + "\", which is not beside the index");
        }
        entries.emplace_back(tensor, name);
    }
    if (entries.empty()) {
        fail("lists no tensors");
    }
    return entries;
}

} // namespace

std::vector<std::string> SafetensorsCheckpoint::partNames(const std::filesystem::path& indexFile)
{
    std::vector<std::string> names;
    for (const auto& [tensor, file] : readWeightMap(indexFile)) {
        if (std::find(names.begin(), names.end(), file) == names.end()) {
            names.push_back(file);
        }
    }
    return names;
}

SafetensorsCheckpoint::SafetensorsCheckpoint(const std::filesystem::path& path)
    : path_(path)
{
    if (path.extension() != ".json") {
        files_.push_back(std::make_unique<SafetensorsFile>(path));
        for (const auto& [name, entry] : files_.front()->entries()) {
            owners_.emplace(name, files_.front().get());
        }
        return;
    }
    std::map<std::string, const SafetensorsFile*> opened;
    for (const auto& [tensor, file] : readWeightMap(path)) {
        auto it = opened.find(file);
        if (it == opened.end()) {
            files_.push_back(std::make_unique<SafetensorsFile>(path.parent_path() / file));
            it = opened.emplace(file, files_.back().get()).first;
        }
        if (!it->second->contains(tensor)) {
            throw SafetensorsError(it->second->path().string() + ": tensor \"" + tensor + "\", which "
                + path.filename().string() + " places here, is missing");
        }
        owners_.emplace(tensor, it->second);
    }
}

std::vector<std::string> SafetensorsCheckpoint::names() const
{
    std::vector<std::string> names;
    for (const auto& [name, file] : owners_) {
        names.push_back(name);
    }
    return names;
}

const SafetensorsFile& SafetensorsCheckpoint::owner(const std::string& name) const
{
    auto it = owners_.find(name);
    if (it == owners_.end()) {
        throw SafetensorsError(path_.string() + ": tensor \"" + name + "\" is missing");
    }
    return *it->second;
}

const SafetensorsFile::Entry& SafetensorsCheckpoint::entry(const std::string& name) const
{
    return owner(name).entry(name);
}

std::vector<float> SafetensorsCheckpoint::floats(const std::string& name) const
{
    return owner(name).floats(name);
}

const std::filesystem::path& SafetensorsCheckpoint::fileOf(const std::string& name) const
{
    return owner(name).path();
}

} // namespace ml
