#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tokenizers {

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
};

// A map keyed by strings that can be searched with a string_view, without building a string.
template<typename Value>
using StringMap = std::unordered_map<std::string, Value, StringHash, std::equal_to<>>;

} // namespace tokenizers
