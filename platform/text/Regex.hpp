#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class RegexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A search stopped by its limits (see RegexLimits).
class RegexLimitError : public RegexError {
public:
    enum class Limit { time, stack };

    RegexLimitError(Limit limit, const std::string& message)
        : RegexError(message)
        , limit_(limit)
    {
    }
    Limit limit() const { return limit_; }

private:
    Limit limit_;
};

// Bounds on one search (findAll or replaceAll), so that a pattern that backtracks without end on
// some text fails instead of running for minutes. The time is counted in the match engine's units
// (ten thousand steps each, a few tenths of a millisecond); the budget grows with the text, so
// ordinary patterns never meet it while exponential backtracking does at once. Zero leaves a
// bound off (ICU's own default then applies to the stack).
struct RegexLimits {
    std::int32_t fixedTime = 0;
    // One more unit of time per this many UTF-16 code units of searched text.
    std::int32_t codeUnitsPerTime = 0;
    // Bytes of the match engine's backtracking stack.
    std::int32_t stackBytes = 0;
};

// A stretch of a UTF-8 text, in byte offsets, end excluded.
struct TextRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// A regular expression in ICU syntax (lookahead, \p{L}, \uXXXX), compiled once and then shared freely
// between threads. Matching works on UTF-8; ranges come back in byte offsets of the searched text.
class Regex {
public:
    // Throws RegexError when the pattern does not compile. Searches past the limits throw
    // RegexLimitError.
    explicit Regex(std::string_view pattern, const RegexLimits& limits = {});
    ~Regex();
    Regex(const Regex&);
    Regex& operator=(const Regex&);

    const std::string& pattern() const { return pattern_; }
    const RegexLimits& limits() const { return limits_; }

    // All non-overlapping matches from left to right; after an empty match the search resumes one
    // character further, so a pattern that matches the empty string cannot loop.
    std::vector<TextRange> findAll(std::string_view text) const;

    // Every match replaced by the template: $n inserts capture group n (a group the pattern does not
    // have inserts nothing), a backslash makes the next character literal.
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;

private:
    struct Compiled;
    std::string pattern_;
    RegexLimits limits_;
    std::shared_ptr<const Compiled> compiled_;
};

// Literal, case-sensitive search: non-overlapping occurrences from left to right (none for an empty needle).
std::vector<TextRange> findAllLiteral(std::string_view text, std::string_view needle);
std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement);

} // namespace platform
