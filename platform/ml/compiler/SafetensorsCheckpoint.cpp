#include "platform/ml/compiler/SafetensorsCheckpoint.hpp"

#include "platform/system/BoundedJson.hpp"
#include "platform/system/RegularFile.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <system_error>

namespace ml {

namespace {

// The index's tensor-to-file map, checked for shape and for names that stay beside the index.
std::vector<std::pair<std::string, std::string>> readWeightMap(const std::filesystem::path& indexFile)
{
    auto fail = [&](const std::string& what) -> void { throw SafetensorsError(indexFile.string() + ": " + what); };
    const nlohmann::json root = SafetensorsCheckpoint::readJsonFile(indexFile, {.duplicateKeys = platform::BoundedJson::DuplicateKeys::refused});
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

nlohmann::json SafetensorsCheckpoint::readJsonFile(const std::filesystem::path& file, const platform::BoundedJson::Limits& limits)
{
    std::string text;
    try {
        text = platform::RegularFile::read(file, maximumJsonSize);
    } catch (const std::filesystem::filesystem_error& error) {
        if (error.code() == std::errc::file_too_large) {
            throw SafetensorsError(file.string() + ": is larger than the " + std::to_string(maximumJsonSize)
                + " bytes allowed");
        }
        throw SafetensorsError(file.string() + ": cannot be opened (" + error.code().message() + ")");
    }
    try {
        return platform::BoundedJson::parse(text, limits);
    } catch (const platform::BoundedJsonError& error) {
        throw SafetensorsError(file.string() + ": " + error.what());
    }
}

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
