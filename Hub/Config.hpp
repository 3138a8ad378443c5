#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hub {

// A parsed JSON configuration read by member name; a camel-case name also finds its snake-case key.
// Copies share the parsed document, so walking into large files (vocabularies) copies nothing.
class Config {
public:
    Config();
    // An object is held as it is; any other value becomes a leaf: {"value": value}.
    explicit Config(nlohmann::json value);
    // An in-memory token pair, the only kind of value `tokenValue` reads.
    static Config token(std::uint64_t id, std::string text);

    // Member lookup: the name as asked, else its snake-case form. Objects come back as a Config of
    // the object; other values as a leaf; a missing key as absent.
    std::optional<Config> operator[](const std::string& member) const;

    // The underlying dictionary (a leaf's is {"value": value}).
    nlohmann::json dictionary() const;
    const nlohmann::json* object() const; // nullptr for leaves

    bool isLeaf() const { return leaf_; }
    const nlohmann::json* value() const;
    std::optional<int> intValue() const;
    // A JSON number that is a whole value within int's range (1.0 counts; 1.5 and 2^40 do not).
    static std::optional<int> intOf(const nlohmann::json& value);
    std::optional<bool> boolValue() const;
    std::optional<std::string> stringValue() const;
    std::optional<std::vector<Config>> arrayValue() const;
    std::optional<std::pair<std::uint64_t, std::string>> tokenValue() const;

private:
    Config(std::shared_ptr<const nlohmann::json> root, const nlohmann::json* node, bool leaf);

    std::shared_ptr<const nlohmann::json> root_;
    const nlohmann::json* node_ = nullptr;
    bool leaf_ = false;
    std::optional<std::pair<std::uint64_t, std::string>> token_;
};

// "addedTokens" -> "added_tokens"; a run of capitals gets one underscore before its first letter.
std::string camelToSnakeCase(const std::string& name);

} // namespace hub
