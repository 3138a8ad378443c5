#include "Tokenizers/StringSplit.hpp"

#include "Tokenizers/TokenizerRegex.hpp"

#include <optional>

namespace tokenizers {

std::vector<std::string> splitAtMatches(std::string_view text, const std::vector<platform::TextRange>& matches,
    SplitDelimiterBehavior behavior)
{
    std::vector<std::string> pieces;
    switch (behavior) {
    case SplitDelimiterBehavior::removed:
    case SplitDelimiterBehavior::isolated: {
        std::size_t previousEnd = 0;
        for (const auto& match : matches) {
            if (match.begin > previousEnd) {
                pieces.emplace_back(text.substr(previousEnd, match.begin - previousEnd));
            }
            if (behavior == SplitDelimiterBehavior::isolated) {
                pieces.emplace_back(text.substr(match.begin, match.end - match.begin));
            }
            previousEnd = match.end;
        }
        pieces.emplace_back(text.substr(previousEnd));
        break;
    }
    case SplitDelimiterBehavior::mergedWithPrevious: {
        if (text.empty()) {
            break;
        }
        std::size_t start = 0;
        for (const auto& match : matches) {
            pieces.emplace_back(text.substr(start, match.end - start));
            start = match.end;
        }
        if (start < text.size()) {
            pieces.emplace_back(text.substr(start));
        }
        break;
    }
    case SplitDelimiterBehavior::mergedWithNext: {
        if (text.empty()) {
            break;
        }
        std::size_t start = 0;
        for (const auto& match : matches) {
            if (match.begin == 0 || match.begin == start) {
                continue;
            }
            pieces.emplace_back(text.substr(start, match.begin - start));
            start = match.begin;
        }
        pieces.emplace_back(text.substr(start));
        break;
    }
    }
    return pieces;
}

std::vector<std::string> split(std::string_view text, std::string_view by, SplitMatching matching,
    SplitDelimiterBehavior behavior)
{
    if (matching == SplitMatching::regularExpression) {
        // Only a pattern that does not compile is searched literally; one that runs past its
        // limits fails.
        std::optional<platform::Regex> regex;
        try {
            regex.emplace(tokenizerRegex::compile(by));
        } catch (const platform::RegexError&) {
        }
        if (regex) {
            return splitAtMatches(text, tokenizerRegex::findAll(*regex, text), behavior);
        }
    }
    return splitAtMatches(text, platform::findAllLiteral(text, by), behavior);
}

} // namespace tokenizers
