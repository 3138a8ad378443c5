#include "Tokenizers/Gpt2Split.hpp"

#include "platform/text/UnicodeText.hpp"

#include <array>
#include <unicode/uchar.h>

namespace tokenizers {

namespace {

enum class CharacterClass : unsigned char { letter, number, space, other };

CharacterClass classify(char32_t scalar)
{
    static const std::array<CharacterClass, 128> ascii = [] {
        std::array<CharacterClass, 128> table {};
        for (int c = 0; c < 128; ++c) {
            table[static_cast<std::size_t>(c)] = ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) ? CharacterClass::letter
                : (c >= '0' && c <= '9')                                                         ? CharacterClass::number
                : (c == ' ' || (c >= '\t' && c <= '\r'))                                          ? CharacterClass::space
                                                                                                  : CharacterClass::other;
        }
        return table;
    }();
    if (scalar < 128) {
        return ascii[scalar];
    }
    const auto c = static_cast<UChar32>(scalar);
    // The regular-expression engine's \s is the White_Space property.
    if (u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) {
        return CharacterClass::space;
    }
    switch (u_charType(c)) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
        return CharacterClass::letter;
    case U_DECIMAL_DIGIT_NUMBER:
    case U_LETTER_NUMBER:
    case U_OTHER_NUMBER:
        return CharacterClass::number;
    default:
        return CharacterClass::other;
    }
}

struct Scanner {
    std::string_view text;

    // Class of the scalar at `offset` and the offset after it.
    CharacterClass at(std::size_t offset, std::size_t& next) const
    {
        next = offset;
        return classify(platform::nextScalar(text, next));
    }

    // End of the run of `kind` starting at `offset` (offset itself when none).
    std::size_t runEnd(std::size_t offset, CharacterClass kind) const
    {
        while (offset < text.size()) {
            std::size_t next;
            if (at(offset, next) != kind) {
                break;
            }
            offset = next;
        }
        return offset;
    }

    std::size_t contraction(std::size_t offset) const
    {
        static constexpr std::string_view suffixes[] = {"s", "t", "re", "ve", "m", "ll", "d"};
        if (text[offset] != '\'') {
            return 0;
        }
        const std::string_view rest = text.substr(offset + 1);
        for (std::string_view suffix : suffixes) {
            if (rest.starts_with(suffix)) {
                return 1 + suffix.size();
            }
        }
        return 0;
    }

    // Length of the match starting at `offset`; every position has one.
    std::size_t matchAt(std::size_t offset) const
    {
        if (const std::size_t length = contraction(offset)) {
            return length;
        }
        std::size_t afterFirst;
        const CharacterClass first = at(offset, afterFirst);
        // " ?\p{L}+", " ?\p{N}+", " ?[^\s\p{L}\p{N}]+": an optional blank, then a run of one class.
        if (text[offset] == ' ' && afterFirst < text.size()) {
            std::size_t afterSecond;
            const CharacterClass second = at(afterFirst, afterSecond);
            if (second != CharacterClass::space) {
                return runEnd(afterSecond, second) - offset;
            }
        }
        if (first != CharacterClass::space) {
            return runEnd(afterFirst, first) - offset;
        }
        // "\s+(?!\S)": a run of blanks that does not end before a non-blank gives up its last one;
        // a single blank before a non-blank falls through to "\s+" and stays whole.
        const std::size_t end = runEnd(afterFirst, CharacterClass::space);
        if (end == text.size()) {
            return end - offset;
        }
        std::size_t lastStart = offset;
        for (std::size_t scan = offset; scan < end;) {
            lastStart = scan;
            platform::nextScalar(text, scan);
        }
        return lastStart > offset ? lastStart - offset : end - offset;
    }
};

} // namespace

std::vector<platform::TextRange> gpt2SplitRanges(std::string_view text)
{
    std::vector<platform::TextRange> ranges;
    ranges.reserve(text.size() / 4 + 1);
    const Scanner scanner {text};
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t length = scanner.matchAt(offset);
        ranges.push_back({offset, offset + length});
        offset += length;
    }
    return ranges;
}

} // namespace tokenizers
