#include "platform/text/TextTransforms.hpp"

#include "platform/text/CharacterProperties.hpp"
#include "platform/text/UnicodeText.hpp"

#include <stdexcept>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {

const icu::Normalizer2& normalizerFor(NormalizationForm form)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = nullptr;
    switch (form) {
    case NormalizationForm::nfc: normalizer = icu::Normalizer2::getNFCInstance(status); break;
    case NormalizationForm::nfd: normalizer = icu::Normalizer2::getNFDInstance(status); break;
    case NormalizationForm::nfkc: normalizer = icu::Normalizer2::getNFKCInstance(status); break;
    case NormalizationForm::nfkd: normalizer = icu::Normalizer2::getNFKDInstance(status); break;
    }
    if (U_FAILURE(status) || !normalizer) {
        throw std::runtime_error("ICU normalization data is unavailable");
    }
    return *normalizer;
}

} // namespace

std::string normalized(std::string_view text, NormalizationForm form)
{
    const std::string valid = decodeUtf8Lossy(text);
    const icu::Normalizer2& normalizer = normalizerFor(form);
    UErrorCode status = U_ZERO_ERROR;
    if (normalizer.isNormalizedUTF8(valid, status) && U_SUCCESS(status)) {
        return valid;
    }
    status = U_ZERO_ERROR;
    std::string out;
    out.reserve(valid.size() + valid.size() / 4);
    icu::StringByteSink<std::string> sink(&out);
    normalizer.normalizeUTF8(0, valid, sink, nullptr, status);
    if (U_FAILURE(status)) {
        throw std::runtime_error("Unicode normalization failed");
    }
    return out;
}

std::string lowercased(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        const auto byte = static_cast<unsigned char>(text[offset]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte));
            ++offset;
            continue;
        }
        // Each scalar on its own: its full mapping, without context rules such as the final sigma.
        const char32_t scalar = nextScalar(text, offset);
        UChar source[2];
        int32_t sourceLength = 0;
        U16_APPEND_UNSAFE(source, sourceLength, static_cast<UChar32>(scalar));
        UChar lowered[8];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = u_strToLower(lowered, 8, source, sourceLength, "", &status);
        if (U_FAILURE(status) || length > 8) {
            appendUtf8(out, scalar);
            continue;
        }
        out += toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(lowered), static_cast<std::size_t>(length)));
    }
    return out;
}

std::string capitalized(std::string_view text)
{
    const std::u32string scalars = [&] {
        auto list = unicodeScalars(text);
        return std::u32string(list.begin(), list.end());
    }();
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < scalars.size()) {
        if (isWhitespace(scalars[i])) {
            appendUtf8(out, scalars[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < scalars.size() && !isWhitespace(scalars[end])) {
            ++end;
        }
        // Full title-casing of the first scalar may give several (ß -> Ss); simple mapping suffices here.
        appendUtf8(out, static_cast<char32_t>(u_totitle(static_cast<UChar32>(scalars[i]))));
        out += lowercased(utf8FromScalars(std::u32string_view(scalars).substr(i + 1, end - i - 1)));
        i = end;
    }
    return out;
}

std::string_view trimmingBlanks(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isblank(c)) {
            break;
        }
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !u_isblank(c)) {
            break;
        }
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

} // namespace platform
