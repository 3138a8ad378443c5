#include "Auris/Utilities/TranscriptionUtilities.hpp"

#include "Auris/Core/TimingFields.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Utilities/TextFormatting.hpp"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace auris {

namespace {

std::string normalizedWord(const std::string& word)
{
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(word);
    int32_t start = 0;
    int32_t end = text.length();
    while (start < end && u_isUWhiteSpace(text.char32At(start))) start = text.moveIndex32(start, 1);
    while (end > start) {
        const int32_t previous = text.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(text.char32At(previous))) break;
        end = previous;
    }
    icu::UnicodeString trimmed(text, start, end - start);
    trimmed.toLower(icu::Locale::getRoot());

    icu::UnicodeString kept;
    for (int32_t i = 0; i < trimmed.length(); i = trimmed.moveIndex32(i, 1)) {
        const UChar32 c = trimmed.char32At(i);
        if (c == u'-') {
            kept.append(static_cast<UChar>(u' '));
        } else if (!u_ispunct(c)) {
            kept.append(c);
        }
    }
    std::string result;
    kept.toUTF8String(result);
    std::string collapsed;
    for (char c : result) {
        if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') continue;
        collapsed += c;
    }
    return collapsed;
}


} // namespace

std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments, bool withTimestamps)
{
    std::vector<std::string> lines;
    lines.reserve(segments.size());
    for (const auto& segment : segments) {
        if (withTimestamps) {
            lines.push_back("[" + formatString("%.2f", static_cast<double>(segment.start)) + " --> "
                + formatString("%.2f", static_cast<double>(segment.end)) + "] " + segment.text);
        } else {
            lines.push_back(segment.text);
        }
    }
    return lines;
}

bool contains(const std::vector<TranscriptionSegment>& segments, const TranscriptionSegment& segment)
{
    return std::any_of(segments.begin(), segments.end(), [&](const auto& other) { return other.start == segment.start; });
}

std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& words1, const std::vector<WordTiming>& words2)
{
    std::vector<WordTiming> prefix;
    const std::size_t count = std::min(words1.size(), words2.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (normalizedWord(words1[i].word) != normalizedWord(words2[i].word)) break;
        prefix.push_back(words2[i]);
    }
    return prefix;
}

std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& words1, const std::vector<WordTiming>& words2)
{
    const std::size_t prefixLength = findLongestCommonPrefix(words1, words2).size();
    return std::vector<WordTiming>(words2.begin() + static_cast<std::ptrdiff_t>(prefixLength), words2.end());
}

TranscriptionResult mergeTranscriptionResults(const std::vector<std::optional<TranscriptionResult>>& results,
    const std::optional<std::vector<WordTiming>>& confirmedWords)
{
    TranscriptionResult merged;
    std::optional<std::string> language;
    std::vector<std::string> texts;
    bool anyResult = false;
    for (const auto& result : results) {
        if (!result) continue;
        if (!anyResult) {
            // Added up from zero, not from the placeholder length of an empty record.
            merged.timings.inputAudioSeconds = 0;
            anyResult = true;
        }
        merged.segments.insert(merged.segments.end(), result->segments.begin(), result->segments.end());
        if (!language) language = result->language;
        addTimings(merged.timings, result->timings);
        texts.push_back(result->text);
    }
    merged.language = language.value_or(std::string(Constants::defaultLanguageCode));
    if (confirmedWords) {
        texts.clear();
        for (const auto& word : *confirmedWords) texts.push_back(word.word);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        merged.text += (i ? " " : "") + texts[i];
    }
    return merged;
}

} // namespace auris
