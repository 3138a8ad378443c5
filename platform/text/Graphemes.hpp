#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace platform {

// User-perceived characters (extended grapheme clusters) of a UTF-8 text, as views into it.
// Ill-formed bytes count as U+FFFD characters of their own.
std::vector<std::string_view> graphemeClusters(std::string_view text);
std::size_t graphemeCount(std::string_view text);

} // namespace platform
