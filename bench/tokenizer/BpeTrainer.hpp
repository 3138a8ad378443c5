#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace bench {

// Learns byte-pair merges from pieces already written in the byte-level alphabet and their counts:
// repeatedly the most frequent adjacent pair (ties: the larger pair key) becomes one symbol.
std::vector<std::pair<std::string, std::string>> learnMerges(const std::unordered_map<std::string, long>& pieceCounts,
    std::size_t mergeCount);

} // namespace bench
