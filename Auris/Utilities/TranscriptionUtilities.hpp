#pragma once

#include "Auris/Core/Outcome.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"

#include <optional>
#include <string>
#include <vector>

namespace auris {

// One line per segment: its text, or "[start --> end] text" with two decimals.
std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments, bool withTimestamps = false);

// Whether a segment with exactly the same start time is in the list (a start that is not a number matches none).
bool contains(const std::vector<TranscriptionSegment>& segments, const TranscriptionSegment& segment);

// Successes as values and failures as absent entries, in the same order.
template<typename T>
std::vector<std::optional<T>> resultsDroppingFailures(const std::vector<Outcome<T>>& outcomes)
{
    std::vector<std::optional<T>> results;
    results.reserve(outcomes.size());
    for (const auto& outcome : outcomes) {
        results.push_back(outcome.value());
    }
    return results;
}

// The leading words of `words2` whose text matches its partner in `words1` once both are
// normalised (trimmed, lower-cased, "-" as a blank, punctuation removed, blank runs collapsed).
std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& words1, const std::vector<WordTiming>& words2);
// `words2` without that common prefix.
std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& words1, const std::vector<WordTiming>& words2);

// One result from several: segments in order, the first present language ("en" without any),
// stage times and counters added up (earliest start and first token), and the text of the
// confirmed words joined by single blanks, else of the present results.
TranscriptionResult mergeTranscriptionResults(const std::vector<std::optional<TranscriptionResult>>& results,
    const std::optional<std::vector<WordTiming>>& confirmedWords = std::nullopt);

} // namespace auris
