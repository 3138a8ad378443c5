#include "platform/text/LanguageRecognizer.hpp"

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace platform {

namespace {

std::optional<std::string> languageOfScript(int script)
{
    switch (script) {
    case USCRIPT_LATIN: return "en";
    case USCRIPT_HAN: return "zh";
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA: return "ja";
    case USCRIPT_HANGUL: return "ko";
    case USCRIPT_THAI: return "th";
    case USCRIPT_LAO: return "lo";
    case USCRIPT_MYANMAR: return "my";
    case USCRIPT_KHMER: return "km";
    case USCRIPT_CYRILLIC: return "ru";
    case USCRIPT_GREEK: return "el";
    case USCRIPT_ARABIC: return "ar";
    case USCRIPT_HEBREW: return "he";
    case USCRIPT_DEVANAGARI: return "hi";
    case USCRIPT_BENGALI: return "bn";
    case USCRIPT_TAMIL: return "ta";
    case USCRIPT_TELUGU: return "te";
    case USCRIPT_KANNADA: return "kn";
    case USCRIPT_MALAYALAM: return "ml";
    case USCRIPT_GUJARATI: return "gu";
    case USCRIPT_GURMUKHI: return "pa";
    case USCRIPT_SINHALA: return "si";
    case USCRIPT_GEORGIAN: return "ka";
    case USCRIPT_ARMENIAN: return "hy";
    case USCRIPT_ETHIOPIC: return "am";
    case USCRIPT_TIBETAN: return "bo";
    default: return std::nullopt;
    }
}

bool isKana(int script) { return script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA; }

} // namespace

void LanguageRecognizer::processString(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    std::int32_t offset = 0;
    while (offset < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, offset, length, c);
        if (c < 0 || !u_isalpha(c)) {
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        const int script = uscript_getScript(c, &status);
        if (U_FAILURE(status) || !languageOfScript(script)) {
            continue;
        }
        bool found = false;
        for (auto& entry : counts_) {
            if (entry.script == script) {
                ++entry.count;
                found = true;
                break;
            }
        }
        if (!found) {
            counts_.push_back({script, 1});
        }
    }
}

std::optional<std::string> LanguageRecognizer::dominantLanguage() const
{
    // Japanese mixes kana with Han characters, so the two count together once kana appear.
    std::size_t kana = 0;
    std::size_t han = 0;
    for (const auto& entry : counts_) {
        if (isKana(entry.script)) kana += entry.count;
        if (entry.script == USCRIPT_HAN) han += entry.count;
    }
    const ScriptCount* best = nullptr;
    std::size_t bestCount = 0;
    for (const auto& entry : counts_) {
        std::size_t count = entry.count;
        if (kana > 0 && (isKana(entry.script) || entry.script == USCRIPT_HAN)) {
            count = kana + han;
        }
        if (count > bestCount) {
            best = &entry;
            bestCount = count;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    if (kana > 0 && best->script == USCRIPT_HAN) {
        return "ja";
    }
    return languageOfScript(best->script);
}

void LanguageRecognizer::reset() { counts_.clear(); }

} // namespace platform
