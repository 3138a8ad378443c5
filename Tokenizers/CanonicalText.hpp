#pragma once

#include <string>
#include <string_view>

namespace tokenizers {

// One spelling for canonically equivalent texts (NFC), so that a precomposed letter and its
// decomposed form find the same vocabulary entry. ASCII text is returned as it is.
std::string canonicalText(std::string_view text);

} // namespace tokenizers
