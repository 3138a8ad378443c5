#pragma once

#include "Hub/Config.hpp"
#include "platform/text/Regex.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tokenizers {

// What the Replace normalizer and the Replace decoder substitute: a literal or a regular expression,
// and the replacement (a template with $1 for a regular expression).
class StringReplacePattern {
public:
    enum class Kind { regexp, string };

    static StringReplacePattern regexp(platform::Regex regexp, std::string replacement);
    static StringReplacePattern string(std::string pattern, std::string replacement);

    // From a section holding "content" and a "pattern" object with "String" or "Regex"; none when
    // either is missing. A "Regex" that does not compile is a configuration error.
    static std::optional<StringReplacePattern> fromConfig(const hub::Config& config);

    Kind kind() const { return kind_; }
    // The literal or the expression's source text.
    const std::string& pattern() const { return pattern_; }
    const std::string& replacement() const { return replacement_; }

    std::string replace(std::string_view text) const;

private:
    StringReplacePattern(Kind kind, std::string pattern, std::optional<platform::Regex> regex, std::string replacement);

    Kind kind_;
    std::string pattern_;
    std::optional<platform::Regex> regex_;
    std::string replacement_;
};

} // namespace tokenizers
