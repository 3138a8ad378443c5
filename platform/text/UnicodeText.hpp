#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr char32_t replacementCharacter = U'\uFFFD';

// Text in this program is UTF-8 in std::string. Every function here accepts any bytes: an ill-formed
// sequence reads as U+FFFD (one per maximal ill-formed subpart, as the Unicode standard recommends).

bool isValidUtf8(std::string_view text);
// The text itself when valid, else a copy with every ill-formed sequence replaced by U+FFFD.
std::string decodeUtf8Lossy(std::string_view bytes);
std::string decodeUtf8Lossy(std::span<const std::uint8_t> bytes);

std::vector<char32_t> unicodeScalars(std::string_view text);
void appendUtf8(std::string& out, char32_t scalar);
std::string utf8FromScalars(std::span<const char32_t> scalars);

std::u16string toUtf16(std::string_view text);
std::string toUtf8(std::u16string_view text);

char32_t nextScalarSlow(std::string_view text, std::size_t& offset);

// Reads one scalar at `offset` (which must be inside the text) and advances past it; ill-formed
// input gives U+FFFD. One- and two-byte characters are decoded inline.
inline char32_t nextScalar(std::string_view text, std::size_t& offset)
{
    const auto lead = static_cast<unsigned char>(text[offset]);
    if (lead < 0x80) {
        ++offset;
        return lead;
    }
    if (lead >= 0xC2 && lead < 0xE0 && offset + 1 < text.size()) {
        const auto trail = static_cast<unsigned char>(text[offset + 1]);
        if ((trail & 0xC0) == 0x80) {
            offset += 2;
            return static_cast<char32_t>(((lead & 0x1F) << 6) | (trail & 0x3F));
        }
    }
    return nextScalarSlow(text, offset);
}

} // namespace platform
