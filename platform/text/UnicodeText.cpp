#include "platform/text/UnicodeText.hpp"

#include <algorithm>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace platform {

namespace {

const std::uint8_t* bytesOf(std::string_view text)
{
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

} // namespace

char32_t nextScalarSlow(std::string_view text, std::size_t& offset)
{
    const auto* bytes = bytesOf(text);
    if (bytes[offset] < 0x80) {
        return bytes[offset++];
    }
    // ICU indexes with int32_t; keep the window small so huge texts cannot overflow it.
    const std::size_t window = std::min<std::size_t>(text.size() - offset, 4);
    int32_t i = 0;
    UChar32 scalar;
    U8_NEXT(bytes + offset, i, static_cast<int32_t>(window), scalar);
    offset += static_cast<std::size_t>(i);
    return scalar < 0 ? replacementCharacter : static_cast<char32_t>(scalar);
}

bool isValidUtf8(std::string_view text)
{
    const auto* bytes = bytesOf(text);
    std::size_t offset = 0;
    while (offset < text.size()) {
        if (bytes[offset] < 0x80) {
            ++offset;
            continue;
        }
        const std::size_t window = std::min<std::size_t>(text.size() - offset, 4);
        int32_t i = 0;
        UChar32 scalar;
        U8_NEXT(bytes + offset, i, static_cast<int32_t>(window), scalar);
        if (scalar < 0) {
            return false;
        }
        offset += static_cast<std::size_t>(i);
    }
    return true;
}

std::string decodeUtf8Lossy(std::string_view bytes)
{
    if (isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        appendUtf8(out, nextScalar(bytes, offset));
    }
    return out;
}

std::string decodeUtf8Lossy(std::span<const std::uint8_t> bytes)
{
    return decodeUtf8Lossy(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<char32_t> unicodeScalars(std::string_view text)
{
    std::vector<char32_t> scalars;
    scalars.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        scalars.push_back(nextScalar(text, offset));
    }
    return scalars;
}

void appendUtf8(std::string& out, char32_t scalar)
{
    if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) {
        scalar = replacementCharacter;
    }
    if (scalar < 0x80) {
        out.push_back(static_cast<char>(scalar));
    } else if (scalar < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else if (scalar < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    }
}

std::string utf8FromScalars(std::span<const char32_t> scalars)
{
    std::string out;
    out.reserve(scalars.size());
    for (char32_t scalar : scalars) {
        appendUtf8(out, scalar);
    }
    return out;
}

std::u16string toUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        const char32_t scalar = nextScalar(text, offset);
        if (scalar < 0x10000) {
            out.push_back(static_cast<char16_t>(scalar));
        } else {
            out.push_back(static_cast<char16_t>(U16_LEAD(scalar)));
            out.push_back(static_cast<char16_t>(U16_TRAIL(scalar)));
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (U16_IS_LEAD(unit) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
            appendUtf8(out, static_cast<char32_t>(U16_GET_SUPPLEMENTARY(unit, text[i + 1])));
            ++i;
        } else {
            appendUtf8(out, U16_IS_SURROGATE(unit) ? replacementCharacter : unit);
        }
    }
    return out;
}

} // namespace platform
