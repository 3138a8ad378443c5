#include "platform/system/Entitlements.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace platform {

std::optional<std::filesystem::path> Entitlements::executableFolder()
{
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty() || !executable.has_parent_path()) {
        return std::nullopt;
    }
    return executable.parent_path();
}

std::optional<Entitlements> Entitlements::load(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << stream.rdbuf();
    if (stream.bad()) {
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    Entitlements entitlements;
    for (const auto& [key, value] : json.items()) {
        std::optional<std::vector<std::string>> strings;
        if (value.is_array()) {
            strings.emplace();
            for (const auto& element : value) {
                if (!element.is_string()) {
                    strings.reset();
                    break;
                }
                strings->push_back(element.get<std::string>());
            }
        }
        entitlements.values_.emplace(key, std::move(strings));
    }
    return entitlements;
}

bool Entitlements::contains(std::string_view key) const
{
    return values_.find(key) != values_.end();
}

std::optional<std::vector<std::string>> Entitlements::stringArray(std::string_view key) const
{
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : found->second;
}

} // namespace platform
