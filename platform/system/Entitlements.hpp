#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What the program is entitled to, in place of a code signature: a JSON object in a file installed
// beside the executable, e.g.
//   { "com.apple.developer.icloud-container-identifiers": ["iCloud.com.OrvandaNote"] }
// Keys whose value is not an array of strings are kept as present but give no strings.
class Entitlements {
public:
    static constexpr char fileName[] = "parlino.entitlements.json";
    static constexpr char iCloudContainerIdentifiersKey[] = "com.apple.developer.icloud-container-identifiers";

    // The folder of the running executable (from /proc/self/exe); nullopt when it cannot be read.
    static std::optional<std::filesystem::path> executableFolder();

    // Nullopt when the file is missing or unreadable, is not JSON, or its top level is not an object.
    static std::optional<Entitlements> load(const std::filesystem::path& file);

    bool contains(std::string_view key) const;
    // Nullopt when the key is missing or its value is not an array of strings.
    std::optional<std::vector<std::string>> stringArray(std::string_view key) const;

private:
    std::map<std::string, std::optional<std::vector<std::string>>, std::less<>> values_;
};

} // namespace platform
