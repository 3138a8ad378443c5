#pragma once

#include "platform/text/Regex.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

// Regular expressions read from tokenizer files (Replace and Split patterns, the Metaspace
// replacement). The file chooses them, so their searches are bounded: a pattern that backtracks
// catastrophically on some text fails with a TokenizerError naming it instead of spinning.
namespace tokenizerRegex {

// About a quarter of a second for any text, plus a unit per eight code units searched.
inline constexpr platform::RegexLimits limits {.fixedTime = 1000, .codeUnitsPerTime = 8, .stackBytes = 8 << 20};

// Throws platform::RegexError when the pattern does not compile.
platform::Regex compile(std::string_view pattern);

// The searches of platform::Regex; a search past the limits throws TokenizerError (configuration).
std::vector<platform::TextRange> findAll(const platform::Regex& regex, std::string_view text);
std::string replaceAll(const platform::Regex& regex, std::string_view text, std::string_view replacementTemplate);

} // namespace tokenizerRegex

} // namespace tokenizers
