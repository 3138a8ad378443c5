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

} // namespace platform
