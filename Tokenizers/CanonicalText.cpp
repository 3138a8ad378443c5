#include "Tokenizers/CanonicalText.hpp"

#include "platform/text/TextTransforms.hpp"

#include <algorithm>

namespace tokenizers {

std::string canonicalText(std::string_view text)
{
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        return std::string(text);
    }
    return platform::normalized(text, platform::NormalizationForm::nfc);
}

} // namespace tokenizers
