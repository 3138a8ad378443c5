#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Guesses the dominant language of text from the writing system most of its letters belong to.
// Scripts used by one main language answer that language ("th", "ko", ...); Han answers "zh", or
// "ja" when kana appear too; Latin answers "en", since letters alone cannot tell Latin-script
// languages apart. Text without letters of a known script has no dominant language.
class LanguageRecognizer {
public:
    // Adds the letters of `text` (UTF-8; malformed bytes are skipped) to what was seen so far.
    void processString(std::string_view text);
    std::optional<std::string> dominantLanguage() const;
    void reset();

private:
    struct ScriptCount {
        int script;
        std::size_t count;
    };
    std::vector<ScriptCount> counts_; // in order of first appearance, so ties go to the earlier script
};

} // namespace platform
