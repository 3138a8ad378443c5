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

} // namespace

std::pair<int, std::optional<std::vector<TranscriptionSegment>>> SegmentSeeker::findSeekPointAndSegments(
    const DecodingResult& decodingResult, const DecodingOptions& options, int allSegmentsCount, int currentSeek,
    int segmentSize, int sampleRate, int timeToken, int /*specialToken*/, const WhisperTokenizer& tokenizer) const
{
    const int windowEnd = saturatingAdd(currentSeek, std::max(segmentSize, 0));

    if (options.noSpeechThreshold && decodingResult.noSpeechProb > *options.noSpeechThreshold) {
        const bool confident = options.logProbThreshold && decodingResult.avgLogProb > *options.logProbThreshold;
        if (!confident) {
            return {windowEnd, std::nullopt};
        }
    }

    const auto& tokens = decodingResult.tokens;
    const std::size_t count = tokens.size();
    const float step = secondsPerTimeToken;
    const float timeOffset = static_cast<float>(currentSeek) / static_cast<float>(sampleRate);
    const int specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;

    std::vector<bool> isTimestamp(count);
    for (std::size_t i = 0; i < count; ++i) {
        isTimestamp[i] = tokens[i] >= timeToken;
    }
    const bool hasEnding = count >= 3;
    const bool singleTimestampEnding
        = hasEnding && !isTimestamp[count - 3] && isTimestamp[count - 2] && !isTimestamp[count - 1];
    const bool noTimestampEnding = hasEnding && !isTimestamp[count - 3] && !isTimestamp[count - 2] && !isTimestamp[count - 1];

    std::vector<std::size_t> sliceEnds;
    for (std::size_t i = 1; i < count; ++i) {
        if (isTimestamp[i - 1] && isTimestamp[i]) {
            sliceEnds.push_back(i);
        }
    }

    auto makeSegment = [&](std::size_t start, std::size_t end, float startTime, float endTime, int id) {
        TranscriptionSegment segment;
        segment.id = id;
        segment.seek = currentSeek;
        segment.start = startTime;
        segment.end = endTime;
        segment.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(start), tokens.begin() + static_cast<std::ptrdiff_t>(end));
        // A result with fewer log-probability entries than tokens gets empty entries for the rest,
        // so every segment has one entry per token.
        segment.tokenLogProbs.assign(end - start, {});
        for (std::size_t i = start; i < end && i < decodingResult.tokenLogProbs.size(); ++i) {
            segment.tokenLogProbs[i - start] = decodingResult.tokenLogProbs[i];
        }
        std::vector<int> textTokens;
        if (options.skipSpecialTokens) {
            std::copy_if(segment.tokens.begin(), segment.tokens.end(), std::back_inserter(textTokens),
                [&](int token) { return token < specialTokenBegin; });
        } else {
            textTokens = segment.tokens;
        }
        segment.text = tokenizer.decode(textTokens);
        segment.temperature = decodingResult.temperature;
        segment.avgLogprob = decodingResult.avgLogProb;
        segment.compressionRatio = decodingResult.compressionRatio;
        segment.noSpeechProb = decodingResult.noSpeechProb;
        return segment;
    };

    std::vector<TranscriptionSegment> segments;
    int seek = windowEnd;

    if (!sliceEnds.empty()) {
        if (singleTimestampEnding) {
            sliceEnds.push_back(count - 1); // one past the timestamp before the last token
        } else if (noTimestampEnding) {
            sliceEnds.push_back(count);
        }

        std::size_t sliceStart = 0;
        for (std::size_t sliceEnd : sliceEnds) {
            std::optional<int> firstTimestamp;
            int lastTimestamp = 0;
            for (std::size_t i = sliceStart; i < sliceEnd; ++i) {
                if (isTimestamp[i]) {
                    if (!firstTimestamp) {
                        firstTimestamp = tokens[i];
                    }
                    lastTimestamp = tokens[i];
                }
            }
            if (firstTimestamp) {
                const float start = timeOffset + timestampSteps(*firstTimestamp, timeToken) * step;
                const float end = timeOffset + timestampSteps(lastTimestamp, timeToken) * step;
                segments.push_back(makeSegment(sliceStart, sliceEnd, start, end,
                    saturatingAdd(allSegmentsCount, static_cast<int>(segments.size()))));
            }
            sliceStart = sliceEnd;
        }

        if (!noTimestampEnding) {
            const std::size_t lastSliceEnd = sliceEnds.back();
            const int seekToken = singleTimestampEnding ? tokens[lastSliceEnd - 1] : tokens[lastSliceEnd];
            const float advance = step * timestampSteps(seekToken, timeToken) * static_cast<float>(sampleRate);
            seek = saturatingAdd(currentSeek, std::max(saturatingInt(advance), 0));
        }
    } else {
        std::optional<int> lastTimestamp;
        for (int token : tokens) {
            if (token > timeToken) {
                lastTimestamp = token;
            }
        }
        const float duration = lastTimestamp ? timestampSteps(*lastTimestamp, timeToken) * step
                                             : static_cast<float>(segmentSize) / static_cast<float>(sampleRate);
        segments.push_back(makeSegment(0, count, timeOffset, timeOffset + duration, allSegmentsCount));
    }

    return {seek, std::move(segments)};
}

} // namespace auris
