#include "Tokenizers/ByteEncoder.hpp"

#include "platform/text/UnicodeText.hpp"

namespace tokenizers {

namespace {

constexpr char32_t alphabetEnd = 0x144;

bool keepsOwnCodePoint(int byte)
{
    return (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

struct Alphabet {
    std::array<char32_t, 256> characterOfByte {};
    std::array<int, alphabetEnd> byteOfCharacter {};

    Alphabet()
    {
        byteOfCharacter.fill(-1);
        char32_t next = 0x100;
        for (int byte = 0; byte < 256; ++byte) {
            const char32_t character = keepsOwnCodePoint(byte) ? static_cast<char32_t>(byte) : next++;
            characterOfByte[static_cast<std::size_t>(byte)] = character;
            byteOfCharacter[character] = byte;
        }
    }
};

const Alphabet& alphabet()
{
    static const Alphabet table;
    return table;
}

} // namespace

const ByteEncoder& byteEncoder()
{
    static const ByteEncoder encoder = [] {
        ByteEncoder made;
        for (std::size_t byte = 0; byte < 256; ++byte) {
            platform::appendUtf8(made[byte], alphabet().characterOfByte[byte]);
        }
        return made;
    }();
    return encoder;
}

const ByteDecoder& byteDecoder()
{
    static const ByteDecoder decoder = [] {
        ByteDecoder made;
        const ByteEncoder& encoder = byteEncoder();
        for (std::size_t byte = 0; byte < 256; ++byte) {
            made.emplace(encoder[byte], static_cast<std::uint8_t>(byte));
        }
        return made;
    }();
    return decoder;
}

std::optional<std::uint8_t> byteForCharacter(char32_t character)
{
    if (character >= alphabetEnd) {
        return std::nullopt;
    }
    const int byte = alphabet().byteOfCharacter[character];
    if (byte < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(byte);
}

} // namespace tokenizers
