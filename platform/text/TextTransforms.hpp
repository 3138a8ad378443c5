#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class NormalizationForm { nfc, nfd, nfkc, nfkd };

// Unicode normalization (UAX #15) of UTF-8 text.
std::string normalized(std::string_view text, NormalizationForm form);
// Full Unicode lower-casing of each scalar on its own (İ -> i̇, Σ -> σ even at a word's end),
// independent of the user's locale.
std::string lowercased(std::string_view text);
// Each word (a run between whitespace) with its first character in title case and the rest in lower case.
std::string capitalized(std::string_view text);
// The text without leading and trailing blanks (space separators and tab); line breaks stay.
std::string_view trimmingBlanks(std::string_view text);

} // namespace platform
