#include "platform/text/CharacterProperties.hpp"

#include <unicode/uchar.h>

namespace platform {

bool isWhitespace(char32_t scalar)
{
    return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_WHITE_SPACE);
}

bool isBlank(char32_t scalar)
{
    return u_isblank(static_cast<UChar32>(scalar));
}

bool isPunctuation(char32_t scalar)
{
    return u_ispunct(static_cast<UChar32>(scalar));
}

bool isNonspacingMark(char32_t scalar)
{
    return u_charType(static_cast<UChar32>(scalar)) == U_NON_SPACING_MARK;
}

bool isAlphabetic(char32_t scalar)
{
    return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_ALPHABETIC);
}

bool isAlphanumeric(char32_t scalar)
{
    return (U_GET_GC_MASK(static_cast<UChar32>(scalar)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool isNumeric(char32_t scalar)
{
    return u_getIntPropertyValue(static_cast<UChar32>(scalar), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

} // namespace platform
