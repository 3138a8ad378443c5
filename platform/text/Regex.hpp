#pragma once

#include <cstddef>
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
    // Throws RegexError when the pattern does not compile.
    explicit Regex(std::string_view pattern);
    ~Regex();
    Regex(const Regex&);
    Regex& operator=(const Regex&);

    const std::string& pattern() const { return pattern_; }

    // All non-overlapping matches from left to right; after an empty match the search resumes one
    // character further, so a pattern that matches the empty string cannot loop.
    std::vector<TextRange> findAll(std::string_view text) const;

    // Every match replaced by the template: $n inserts capture group n (a group the pattern does not
    // have inserts nothing), a backslash makes the next character literal.
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;

private:
    struct Compiled;
    std::string pattern_;
    std::shared_ptr<const Compiled> compiled_;
};

// Literal, case-sensitive search: non-overlapping occurrences from left to right (none for an empty needle).
std::vector<TextRange> findAllLiteral(std::string_view text, std::string_view needle);
std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement);

} // namespace platform
