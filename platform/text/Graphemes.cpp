#include "platform/text/Graphemes.hpp"

#include "platform/text/UnicodeText.hpp"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace platform {

namespace {

// Below U+0300 no scalar extends a cluster, so each one stands alone, except CR LF.
bool splitsPerScalar(std::string_view text)
{
    char previous = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0xCC) {
            return false; // lead byte of U+0300 or above
        }
        if (previous == '\r' && c == '\n') {
            return false;
        }
        previous = c;
    }
    return isValidUtf8(text);
}

icu::BreakIterator& characterIterator()
{
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !made) {
            throw std::runtime_error("ICU character break iterator is unavailable");
        }
        return made;
    }();
    return *iterator;
}

} // namespace

std::vector<std::string_view> graphemeClusters(std::string_view text)
{
    std::vector<std::string_view> clusters;
    if (text.empty()) {
        return clusters;
    }
    if (splitsPerScalar(text)) {
        std::size_t offset = 0;
        while (offset < text.size()) {
            const std::size_t start = offset;
            nextScalar(text, offset);
            clusters.push_back(text.substr(start, offset - start));
        }
        return clusters;
    }
    if (!isValidUtf8(text)) {
        // Break the valid stretches with ICU; every ill-formed subpart is a character of its own.
        std::size_t offset = 0;
        std::size_t stretchStart = 0;
        while (offset < text.size()) {
            const std::size_t start = offset;
            const char32_t scalar = nextScalar(text, offset);
            const bool illFormed = scalar == replacementCharacter && text.substr(start, offset - start) != "\xEF\xBF\xBD";
            if (illFormed) {
                auto before = graphemeClusters(text.substr(stretchStart, start - stretchStart));
                clusters.insert(clusters.end(), before.begin(), before.end());
                clusters.push_back(text.substr(start, offset - start));
                stretchStart = offset;
            }
        }
        auto rest = graphemeClusters(text.substr(stretchStart));
        clusters.insert(clusters.end(), rest.begin(), rest.end());
        return clusters;
    }
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) {
        throw std::runtime_error("cannot open text for character breaking");
    }
    icu::BreakIterator& iterator = characterIterator();
    iterator.setText(utext, status);
    int32_t start = iterator.first();
    for (int32_t end = iterator.next(); end != icu::BreakIterator::DONE; start = end, end = iterator.next()) {
        clusters.push_back(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
    }
    // Drop the iterator's reference to the text before the UText goes away.
    UText* empty = utext_openUTF8(nullptr, "", 0, &status);
    iterator.setText(empty, status);
    utext_close(utext);
    utext_close(empty);
    return clusters;
}

std::size_t graphemeCount(std::string_view text)
{
    return graphemeClusters(text).size();
}

} // namespace platform
