#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace auris {

// Module constants of the engine.
struct Constants {
    Constants() = delete;

    static constexpr int maxTokenContext = 224;
    static constexpr std::string_view defaultLanguageCode = "en";
    // Trimmed from both ends of a decoded language token to get its code.
    static constexpr std::string_view specialTokenDelimiters = "<|>";

    // Lower-case language name to language code (112 names, 100 codes); built once, then read-only.
    static const std::map<std::string, std::string>& languages();
    static const std::set<std::string>& languageCodes();
};

} // namespace auris
