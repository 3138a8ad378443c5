#pragma once

#include "platform/text/Regex.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

enum class SplitDelimiterBehavior { removed, isolated, mergedWithPrevious, mergedWithNext };

// How a split delimiter is searched for.
enum class SplitMatching { literal, regularExpression };

// Cuts a text at the matches (non-overlapping, increasing) with the delimiter behaviour.
std::vector<std::string> splitAtMatches(std::string_view text, const std::vector<platform::TextRange>& matches,
    SplitDelimiterBehavior behavior);

// Cuts a text at every occurrence of `by`, searched literally or as a regular expression (an
// expression that does not compile is searched literally).
std::vector<std::string> split(std::string_view text, std::string_view by, SplitMatching matching,
    SplitDelimiterBehavior behavior);

} // namespace tokenizers
