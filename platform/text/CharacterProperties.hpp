#pragma once

namespace platform {

// Unicode White_Space, line breaks included.
bool isWhitespace(char32_t scalar);
// Horizontal blanks: space separators (Zs) and the tab; not line breaks.
bool isBlank(char32_t scalar);
// Any of the punctuation categories (Pc, Pd, Ps, Pe, Pi, Pf, Po).
bool isPunctuation(char32_t scalar);
// Nonspacing combining mark (Mn).
bool isNonspacingMark(char32_t scalar);
// The Unicode Alphabetic property (letters, letter numbers, many marks).
bool isAlphabetic(char32_t scalar);
// A letter, mark or number in the Unicode general categories (L*, M*, N*): what a word is made of.
bool isAlphanumeric(char32_t scalar);
// Has a Unicode numeric type (decimal, digit or numeric): digits, fractions, numerals.
bool isNumeric(char32_t scalar);

} // namespace platform
