#include "tools/auris-transcribe/PrintableText.hpp"

#include "platform/text/UnicodeText.hpp"

#include <cstdio>

namespace auris {

namespace {

void appendByteEscapes(std::string& out, std::string_view bytes)
{
    for (const char byte : bytes) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(byte)));
        out += escape;
    }
}

} // namespace

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t start = offset;
        const char32_t scalar = platform::nextScalar(text, offset);
        const std::string_view bytes = text.substr(start, offset - start);
        switch (scalar) {
        case U'\n': out += "\\n"; continue;
        case U'\r': out += "\\r"; continue;
        case U'\t': out += "\\t"; continue;
        case U'\\': out += "\\\\"; continue;
        default: break;
        }
        // An ill-formed sequence also reads as U+FFFD; only the real character's bytes pass.
        const bool illFormed = scalar == platform::replacementCharacter && bytes != "\xEF\xBF\xBD";
        const bool control = scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F);
        if (illFormed || control) {
            appendByteEscapes(out, bytes);
        } else {
            out += bytes;
        }
    }
    return out;
}

} // namespace auris
