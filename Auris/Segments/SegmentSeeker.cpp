#include "Auris/Segments/SegmentSeeker.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

namespace auris {

namespace {

// Truncates toward zero, saturating at the ends of the int range; not-a-number gives 0.
int saturatingInt(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

int saturatingAdd(int a, int b)
{
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Steps of a timestamp token above the first one, as a float.
float timestampSteps(int token, int timeToken)
{
    return static_cast<float>(static_cast<long long>(token) - timeToken);
}

// A window is passed over as silence unless a confident decode overrides the no-speech test.
bool isSkippedAsSilence(const DecodingResult& decodingResult, const DecodingOptions& options)
{
    if (!options.noSpeechThreshold || !(decodingResult.noSpeechProb > *options.noSpeechThreshold)) {
        return false;
    }
    return !(options.logProbThreshold && decodingResult.avgLogProb > *options.logProbThreshold);
}

std::vector<bool> timestampMarks(const std::vector<int>& tokens, int timeToken)
{
    std::vector<bool> marks(tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        marks[i] = tokens[i] >= timeToken;
    }
    return marks;
}

// How the last three tokens end the sequence: text, timestamp, text; three texts; or otherwise.
enum class Ending { singleTimestamp, noTimestamp, other };

Ending endingOf(const std::vector<bool>& marks)
{
    const std::size_t count = marks.size();
    if (count < 3 || marks[count - 3] || marks[count - 1]) {
        return Ending::other;
    }
    return marks[count - 2] ? Ending::singleTimestamp : Ending::noTimestamp;
}

// The second index of every pair of adjacent timestamps, rising.
std::vector<std::size_t> sliceEndsOf(const std::vector<bool>& marks)
{
    std::vector<std::size_t> sliceEnds;
    for (std::size_t i = 1; i < marks.size(); ++i) {
        if (marks[i - 1] && marks[i]) {
            sliceEnds.push_back(i);
        }
    }
    return sliceEnds;
}

// What the stages that cut one window into segments share.
struct WindowCut {
    const DecodingResult& decodingResult;
    const DecodingOptions& options;
    const WhisperTokenizer& tokenizer;
    int allSegmentsCount = 0;
    int currentSeek = 0;
    int segmentSize = 0;
    int sampleRate = 0;
    int timeToken = 0;
    // Where the next window starts when this one is used up.
    int windowEnd = 0;
    float timeOffset = 0;
    std::vector<bool> isTimestamp;
    std::vector<TranscriptionSegment> segments;

    const std::vector<int>& tokens() const { return decodingResult.tokens; }
};

std::string segmentText(const WindowCut& cut, const std::vector<int>& tokens)
{
    if (!cut.options.skipSpecialTokens) {
        return cut.tokenizer.decode(tokens);
    }
    const int specialTokenBegin = cut.tokenizer.specialTokens().specialTokenBegin;
    std::vector<int> textTokens;
    std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(textTokens),
        [&](int token) { return token < specialTokenBegin; });
    return cut.tokenizer.decode(textTokens);
}

// Tokens [start, end) become the window's next segment.
void addSegment(WindowCut& cut, std::size_t start, std::size_t end, float startTime, float endTime)
{
    const auto& tokens = cut.tokens();
    const auto& result = cut.decodingResult;
    TranscriptionSegment segment;
    segment.id = saturatingAdd(cut.allSegmentsCount, static_cast<int>(cut.segments.size()));
    segment.seek = cut.currentSeek;
    segment.start = startTime;
    segment.end = endTime;
    segment.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(start), tokens.begin() + static_cast<std::ptrdiff_t>(end));
    // A result with fewer log-probability entries than tokens gets empty entries for the rest,
    // so every segment has one entry per token.
    segment.tokenLogProbs.assign(end - start, {});
    for (std::size_t i = start; i < end && i < result.tokenLogProbs.size(); ++i) {
        segment.tokenLogProbs[i - start] = result.tokenLogProbs[i];
    }
    segment.text = segmentText(cut, segment.tokens);
    segment.temperature = result.temperature;
    segment.avgLogprob = result.avgLogProb;
    segment.compressionRatio = result.compressionRatio;
    segment.noSpeechProb = result.noSpeechProb;
    cut.segments.push_back(std::move(segment));
}

float timestampTime(const WindowCut& cut, int token)
{
    return cut.timeOffset + timestampSteps(token, cut.timeToken) * SegmentSeeker::secondsPerTimeToken;
}

// One segment per slice, from its first timestamp to its last; returns the next seek. Tokens after
// the last slice are left for the next window.
int cutAtSlices(WindowCut& cut, std::vector<std::size_t> sliceEnds, Ending ending)
{
    const auto& tokens = cut.tokens();
    if (ending == Ending::singleTimestamp) {
        sliceEnds.push_back(tokens.size() - 1); // one past the timestamp before the last token
    } else if (ending == Ending::noTimestamp) {
        sliceEnds.push_back(tokens.size());
    }
    std::size_t sliceStart = 0;
    for (std::size_t sliceEnd : sliceEnds) {
        std::optional<int> firstTimestamp;
        int lastTimestamp = 0;
        for (std::size_t i = sliceStart; i < sliceEnd; ++i) {
            if (cut.isTimestamp[i]) {
                firstTimestamp = firstTimestamp.value_or(tokens[i]);
                lastTimestamp = tokens[i];
            }
        }
        if (firstTimestamp) {
            addSegment(cut, sliceStart, sliceEnd, timestampTime(cut, *firstTimestamp), timestampTime(cut, lastTimestamp));
        }
        sliceStart = sliceEnd;
    }
    if (ending == Ending::noTimestamp) {
        return cut.windowEnd;
    }
    const std::size_t lastSliceEnd = sliceEnds.back();
    const int seekToken = ending == Ending::singleTimestamp ? tokens[lastSliceEnd - 1] : tokens[lastSliceEnd];
    const float advance = SegmentSeeker::secondsPerTimeToken * timestampSteps(seekToken, cut.timeToken)
        * static_cast<float>(cut.sampleRate);
    return saturatingAdd(cut.currentSeek, std::max(saturatingInt(advance), 0));
}

// Without adjacent timestamps the whole list is one segment, ending at its last timestamp above
// zero or at the window's end; the next window starts after this one.
int cutWhole(WindowCut& cut)
{
    std::optional<int> lastTimestamp;
    for (int token : cut.tokens()) {
        if (token > cut.timeToken) {
            lastTimestamp = token;
        }
    }
    const float duration = lastTimestamp
        ? timestampSteps(*lastTimestamp, cut.timeToken) * SegmentSeeker::secondsPerTimeToken
        : static_cast<float>(cut.segmentSize) / static_cast<float>(cut.sampleRate);
    addSegment(cut, 0, cut.tokens().size(), cut.timeOffset, cut.timeOffset + duration);
    return cut.windowEnd;
}

} // namespace

std::pair<int, std::optional<std::vector<TranscriptionSegment>>> SegmentSeeker::findSeekPointAndSegments(
    const DecodingResult& decodingResult, const DecodingOptions& options, int allSegmentsCount, int currentSeek,
    int segmentSize, int sampleRate, int timeToken, int /*specialToken*/, const WhisperTokenizer& tokenizer) const
{
    const int windowEnd = saturatingAdd(currentSeek, std::max(segmentSize, 0));
    if (isSkippedAsSilence(decodingResult, options)) {
        return {windowEnd, std::nullopt};
    }
    WindowCut cut {
        .decodingResult = decodingResult,
        .options = options,
        .tokenizer = tokenizer,
        .allSegmentsCount = allSegmentsCount,
        .currentSeek = currentSeek,
        .segmentSize = segmentSize,
        .sampleRate = sampleRate,
        .timeToken = timeToken,
        .windowEnd = windowEnd,
        .timeOffset = static_cast<float>(currentSeek) / static_cast<float>(sampleRate),
        .isTimestamp = timestampMarks(decodingResult.tokens, timeToken),
    };
    const auto sliceEnds = sliceEndsOf(cut.isTimestamp);
    const int seek = sliceEnds.empty() ? cutWhole(cut) : cutAtSlices(cut, sliceEnds, endingOf(cut.isTimestamp));
    return {seek, std::move(cut.segments)};
}

} // namespace auris
