#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace platform {

// A document that BoundedJson refuses; what() says why, to follow a file name:
// "is not valid JSON (...)", "is nested more than 512 levels deep", "holds the key \"x\" twice in one object".
class BoundedJsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses JSON from outside with bounds that the plain parser lacks. Copying, printing or comparing
// a document recurses once per level, so a file nested a million levels deep would overflow the
// stack long after parsing succeeded; the nesting is bounded while parsing instead. Descriptions
// that name things by key may also refuse a key given twice, which the plain parser resolves by
// keeping the last value silently.
class BoundedJson {
public:
    enum class DuplicateKeys { lastWins, refused };

    struct Limits {
        std::size_t maximumDepth = 512;
        DuplicateKeys duplicateKeys = DuplicateKeys::lastWins;
    };

    // Throws BoundedJsonError for text that is no JSON or breaks a limit.
    static nlohmann::json parse(std::string_view text, const Limits& limits);
    static nlohmann::json parse(std::string_view text) { return parse(text, Limits {}); }

    // A whole number within int's range; none for any other value, so that 2^32 + 384 never
    // reads as 384.
    static std::optional<int> intOf(const nlohmann::json& value);
};

} // namespace platform
