#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// Deterministic English-like prose: common words and invented ones, sentences with punctuation,
// numbers, contractions, quotes, the odd accented word or emoji, and paragraphs split by newlines.
std::string syntheticText(std::size_t bytes, std::uint32_t seed);

} // namespace bench
