#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace tokenizers {

// The byte-level alphabet: every byte value has one printable character. Printable Latin-1 bytes
// keep their own code point; the other 68 bytes, in ascending order, take U+0100 upwards.
using ByteEncoder = std::array<std::string, 256>;
using ByteDecoder = std::unordered_map<std::string, std::uint8_t>;

// Built once, on first use, safely from any thread.
const ByteEncoder& byteEncoder();
const ByteDecoder& byteDecoder();

// The byte of one alphabet character, without a string lookup.
std::optional<std::uint8_t> byteForCharacter(char32_t character);

} // namespace tokenizers
