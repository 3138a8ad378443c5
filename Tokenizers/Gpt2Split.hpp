#pragma once

#include "platform/text/Regex.hpp"

#include <string_view>
#include <vector>

namespace tokenizers {

// The matches of the GPT-2 split expression
//   's|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
// found without the general regular-expression engine: the same ranges the engine finds, with the
// engine's character classes, at the speed the byte-level pre-tokenizer needs.
std::vector<platform::TextRange> gpt2SplitRanges(std::string_view text);

} // namespace tokenizers
