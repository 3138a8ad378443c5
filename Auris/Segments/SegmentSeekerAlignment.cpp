#include "Auris/Core/WhisperError.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

namespace auris {

namespace {

constexpr std::array<std::string_view, 6> sentenceEndMarks {".", "\xE3\x80\x82", "!", "\xEF\xBC\x81", "?", "\xEF\xBC\x9F"};

bool isSentenceEnd(const std::string& word)
{
    return std::find(sentenceEndMarks.begin(), sentenceEndMarks.end(), word) != sentenceEndMarks.end();
}

// Rounded to two decimals, halves away from zero.
float roundedToHundredths(float value)
{
    return std::round(value * 100.0f) / 100.0f;
}

std::string_view trimmedSpacesAndTabs(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// An empty text is no punctuation mark, although every string holds it.
bool holds(std::string_view marks, std::string_view text)
{
    return !text.empty() && marks.find(text) != std::string_view::npos;
}

bool startsWithWhitespace(const std::string& text)
{
    if (text.empty()) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), 8));
    std::int32_t offset = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, offset, length, c);
    return c >= 0 && u_isUWhiteSpace(c);
}

std::string shapeText(const std::vector<int>& shape)
{
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(shape[i]);
    }
    return text + "]";
}

// Row-major elements of a matrix in its own element type, widened to double.
std::vector<double> matrixValues(const ml::MultiArray& matrix)
{
    std::vector<double> values(matrix.count());
    if (matrix.isPacked()) {
        switch (matrix.dataType()) {
        case ml::MultiArrayDataType::float16: {
            const auto* data = matrix.data<ml::Float16>();
            for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(data[i]);
            return values;
        }
        case ml::MultiArrayDataType::float32: {
            const auto* data = matrix.data<float>();
            std::copy(data, data + values.size(), values.begin());
            return values;
        }
        default: break;
        }
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = matrix[i];
    }
    return values;
}

// Copies the first `rows` rows of `source` (row-major over its last axis) into the packed
// [rows', columns] array `destination`, keeping the element type's bits.
void copyRows(const ml::MultiArray& source, ml::MultiArray& destination, std::size_t rows, std::size_t columns)
{
    const std::size_t elementBytes = ml::elementSize(source.dataType());
    auto* target = static_cast<unsigned char*>(destination.dataPointer());
    const auto* origin = static_cast<const unsigned char*>(source.dataPointer());
    const std::size_t elements = rows * columns;
    if (source.isPacked()) {
        std::memcpy(target, origin, elements * elementBytes);
        return;
    }
    for (std::size_t i = 0; i < elements; ++i) {
        std::memcpy(target + i * elementBytes, origin + source.offsetOfLinear(i) * elementBytes, elementBytes);
    }
}

// Every token of the window's segments in order, with its log-probability where its segment knows it.
struct WindowTokens {
    std::vector<int> wordTokenIds;
    std::vector<std::optional<float>> tokenLogProbs;
};

WindowTokens windowTokensOf(const std::vector<TranscriptionSegment>& segments)
{
    WindowTokens gathered;
    for (const auto& segment : segments) {
        for (std::size_t i = 0; i < segment.tokens.size(); ++i) {
            const int token = segment.tokens[i];
            gathered.wordTokenIds.push_back(token);
            std::optional<float> logProb;
            if (i < segment.tokenLogProbs.size()) {
                if (auto it = segment.tokenLogProbs[i].find(token); it != segment.tokenLogProbs[i].end()) {
                    logProb = it->second;
                }
            }
            gathered.tokenLogProbs.push_back(logProb);
        }
    }
    return gathered;
}

// One row of the weights per token position. Throws WhisperError (segmentingFailed) for weights
// without a shape.
ml::MultiArray alignmentMatrix(const ml::MultiArray& alignmentWeights, std::size_t tokenCount)
{
    const auto& weightsShape = alignmentWeights.shape();
    if (weightsShape.empty()) {
        throw WhisperError::segmentingFailed("Invalid shape in alignmentWeights");
    }
    const int columns = weightsShape.back();
    const int positions = static_cast<int>(std::min<std::size_t>(tokenCount, std::numeric_limits<int>::max()));
    ml::MultiArray weights = makeMultiArray({positions, columns}, alignmentWeights.dataType(), 0);
    // Rows the weights lack stay zero rather than being read past their end.
    const std::size_t availableRows = columns > 0 ? alignmentWeights.count() / static_cast<std::size_t>(columns) : 0;
    copyRows(alignmentWeights, weights, std::min<std::size_t>(availableRows, static_cast<std::size_t>(positions)),
        static_cast<std::size_t>(columns));
    Logging::debug("Alignment weights shape: " + shapeText(weights.shape()));
    return weights;
}

// The lengths a word is held to: about the window's median word, and at most twice that. Both are
// 0 when no word has a length.
struct WordDurations {
    float median = 0;
    float max = 0;
};

WordDurations wordDurationsOf(const std::vector<WordTiming>& alignment)
{
    std::vector<float> durations;
    for (const auto& word : alignment) {
        if (const float duration = word.end - word.start; duration > 0) {
            durations.push_back(duration);
        }
    }
    if (durations.empty()) {
        return {};
    }
    std::sort(durations.begin(), durations.end());
    const float median = durations[durations.size() / 2];
    const float cap = SegmentSeeker::medianDurationCap;
    return {std::min(median, cap), median < cap ? 2 * median : 2 * cap};
}

// A sentence end mark that lasts too long keeps its start; the word after one keeps its end.
void trimLongWordsAtSentenceEnds(std::vector<WordTiming>& alignment, const WordDurations& durations)
{
    for (std::size_t i = 1; i < alignment.size(); ++i) {
        auto& word = alignment[i];
        if (word.end - word.start > durations.max) {
            if (isSentenceEnd(word.word)) {
                word.end = word.start + durations.max;
            } else if (isSentenceEnd(alignment[i - 1].word)) {
                word.start = word.end - durations.max;
            }
        }
    }
}

// What placing the merged words into the window's segments carries from one segment to the next.
struct WordPlacement {
    const std::vector<WordTiming>& merged;
    const WhisperTokenizer& tokenizer;
    WordDurations durations;
    int specialTokenBegin = 0;
    float timeOffset = 0;
    float lastSpeechTimestamp = 0;
    std::size_t cursor = 0;
};

// The next merged words, until they hold as many text tokens as the segment, in seconds from the
// start of the audio.
std::vector<WordTiming> takeWords(WordPlacement& placement, const TranscriptionSegment& segment)
{
    const int specialTokenBegin = placement.specialTokenBegin;
    auto isText = [&](int token) { return token < specialTokenBegin; };
    const auto textTokenCount = static_cast<std::size_t>(std::count_if(segment.tokens.begin(), segment.tokens.end(), isText));
    std::size_t saved = 0;
    std::vector<WordTiming> words;
    while (saved < textTokenCount && placement.cursor < placement.merged.size()) {
        const auto& entry = placement.merged[placement.cursor++];
        std::vector<int> kept;
        std::copy_if(entry.tokens.begin(), entry.tokens.end(), std::back_inserter(kept), isText);
        if (kept.empty()) {
            continue;
        }
        saved += kept.size();
        // A word that took in a control token (text after a timestamp with no blank between)
        // keeps only its text, as its tokens do.
        words.push_back(WordTiming {
            .word = kept.size() == entry.tokens.size() ? entry.word : placement.tokenizer.decode(kept),
            .tokens = std::move(kept),
            .start = roundedToHundredths(placement.timeOffset + entry.start),
            .end = roundedToHundredths(placement.timeOffset + entry.end),
            .probability = roundedToHundredths(entry.probability),
        });
    }
    return words;
}

// A first word that starts long after the last speech and lasts too long is moved up to its end;
// then the segment and its first and last words are fitted to each other.
void fitWordsAndSegment(WordPlacement& placement, TranscriptionSegment& segment, std::vector<WordTiming>& words)
{
    const WordDurations& durations = placement.durations;
    const float lastSpeechTimestamp = placement.lastSpeechTimestamp;
    const WordTiming first = words.front();
    if (first.end - lastSpeechTimestamp > 4 * durations.median
        && (first.end - first.start > durations.max
            || (words.size() >= 2 && words[1].end - first.start > 2 * durations.max))) {
        if (words.size() >= 2 && words[1].end - words[1].start > durations.max) {
            const float boundary = std::max(words[1].end / 2, words[1].end - durations.max);
            words[0].end = boundary;
            words[1].start = boundary;
        }
        words[0].start = std::max(lastSpeechTimestamp, first.end - durations.max);
    }

    if (segment.start < first.end && segment.start - SegmentSeeker::segmentBoundarySlack > first.start) {
        words[0].start = std::max(0.0f, std::min(segment.start, first.end - durations.median));
    } else {
        segment.start = first.start;
    }

    // The last word as the rules above left it: they may have moved its start past the
    // segment's end, and a word must not end before it starts.
    WordTiming& last = words.back();
    if (segment.end > last.start && segment.end + SegmentSeeker::segmentBoundarySlack < last.end) {
        last.end = std::max(last.start + durations.median, segment.end);
    } else {
        segment.end = last.end;
    }
    placement.lastSpeechTimestamp = segment.end;
}

} // namespace

std::vector<TranscriptionSegment> SegmentSeeker::addWordTimestamps(std::vector<TranscriptionSegment> segments,
    const ml::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer, int seek, int /*segmentSize*/,
    std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
    const DecodingOptions& /*options*/, const TranscriptionTimings& timings) const
{
    const WindowTokens gathered = windowTokensOf(segments);
    const ml::MultiArray weights = alignmentMatrix(alignmentWeights, gathered.wordTokenIds.size());
    auto alignment = findAlignment(gathered.wordTokenIds, weights, gathered.tokenLogProbs, tokenizer, timings);
    const WordDurations durations = wordDurationsOf(alignment);
    trimLongWordsAtSentenceEnds(alignment, durations);
    const auto merged = mergePunctuations(alignment, prependPunctuations, appendPunctuations);

    WordPlacement placement {
        .merged = merged,
        .tokenizer = tokenizer,
        .durations = durations,
        .specialTokenBegin = tokenizer.specialTokens().specialTokenBegin,
        .timeOffset = static_cast<float>(seek) / static_cast<float>(engineSampleRate),
        .lastSpeechTimestamp = lastSpeechTimestamp,
    };
    for (auto& segment : segments) {
        auto words = takeWords(placement, segment);
        if (!words.empty()) {
            fitWordsAndSegment(placement, segment, words);
        }
        segment.words = std::move(words);
    }
    return segments;
}

std::vector<WordTiming> SegmentSeeker::findAlignment(const std::vector<int>& wordTokenIds,
    const ml::MultiArray& alignmentWeights, const std::vector<std::optional<float>>& tokenLogProbs,
    const WhisperTokenizer& tokenizer, const TranscriptionTimings& /*timings*/) const
{
    const auto path = dynamicTimeWarping(alignmentWeights);

    const auto split = tokenizer.splitIntoWords(wordTokenIds);
    const std::size_t wordCount = std::min(split.words.size(), split.wordTokens.size());
    if (wordCount < 2) {
        return {};
    }

    std::vector<float> starts {0.0f};
    std::vector<float> ends;
    for (std::size_t k = 1; k < path.textIndices.size() && k < path.timeIndices.size(); ++k) {
        if (path.textIndices[k] != path.textIndices[k - 1]) {
            const float jump = static_cast<float>(path.timeIndices[k]) * secondsPerTimeToken;
            starts.push_back(jump);
            ends.push_back(jump);
        }
    }
    const int lastTime = path.timeIndices.empty() ? defaultFrameCount : path.timeIndices.back();
    ends.push_back(static_cast<float>(lastTime) * secondsPerTimeToken);

    std::vector<WordTiming> alignment;
    alignment.reserve(wordCount);
    std::size_t position = 0;
    for (std::size_t w = 0; w < wordCount; ++w) {
        const auto& ids = split.wordTokens[w];
        if (ids.empty()) {
            continue;
        }
        const std::size_t first = position;
        position += ids.size();
        // A split that yields more positions than the path covers cannot be placed in time.
        if (position > ends.size()) {
            break;
        }
        float sum = 0;
        int known = 0;
        for (std::size_t p = first; p < position && p < tokenLogProbs.size(); ++p) {
            if (tokenLogProbs[p]) {
                sum += *tokenLogProbs[p];
                ++known;
            }
        }
        alignment.push_back(WordTiming {
            .word = split.words[w],
            .tokens = ids,
            .start = starts[first],
            .end = ends[position - 1],
            .probability = known > 0 ? std::pow(10.0f, sum / static_cast<float>(known)) : 0.0f,
        });
    }
    return alignment;
}

AlignmentPath SegmentSeeker::dynamicTimeWarping(const ml::MultiArray& matrix) const
{
    if (matrix.shape().size() != 2) {
        throw WhisperError::segmentingFailed("Invalid alignment matrix shape");
    }
    const auto rows = static_cast<std::size_t>(matrix.shape()[0]);
    const auto columns = static_cast<std::size_t>(matrix.shape()[1]);
    const auto values = matrixValues(matrix);

    constexpr double infinity = std::numeric_limits<double>::infinity();
    // Each row of costs only needs the row above it.
    std::vector<double> previous(columns + 1, infinity);
    std::vector<double> current(columns + 1, infinity);
    previous[0] = 0;
    TraceMatrix trace(rows + 1, columns + 1);
    for (std::size_t j = 1; j <= columns; ++j) {
        trace.set(0, j, TraceMatrix::left);
    }
    for (std::size_t i = 1; i <= rows; ++i) {
        trace.set(i, 0, TraceMatrix::up);
        current[0] = infinity;
        for (std::size_t j = 1; j <= columns; ++j) {
            const double weight = values[(i - 1) * columns + (j - 1)];
            const auto [cost, step] = minCostAndTrace(previous[j - 1], previous[j], current[j - 1], weight);
            current[j] = cost;
            trace.set(i, j, static_cast<std::int8_t>(step));
        }
        std::swap(previous, current);
    }
    return backtrace(trace);
}

std::pair<double, int> SegmentSeeker::minCostAndTrace(double costDiagonal, double costUp, double costLeft,
    double matrixValue) const
{
    const double c0 = costDiagonal - matrixValue;
    const double c1 = costUp - matrixValue;
    const double c2 = costLeft - matrixValue;
    if (c0 < c1 && c0 < c2) {
        return {c0, TraceMatrix::diagonal};
    }
    if (c1 < c0 && c1 < c2) {
        return {c1, TraceMatrix::up};
    }
    return {c2, TraceMatrix::left};
}

AlignmentPath SegmentSeeker::backtrace(const TraceMatrix& trace) const
{
    AlignmentPath path;
    if (trace.rows() == 0 || trace.columns() == 0) {
        return path;
    }
    std::size_t i = trace.rows() - 1;
    std::size_t j = trace.columns() - 1;
    while (i > 0 || j > 0) {
        path.textIndices.push_back(static_cast<int>(i) - 1);
        path.timeIndices.push_back(static_cast<int>(j) - 1);
        const auto step = trace.at(i, j);
        // On the table's border only one step exists, whatever the cell says.
        if (i == 0) {
            --j;
        } else if (j == 0) {
            --i;
        } else if (step == TraceMatrix::diagonal) {
            --i;
            --j;
        } else if (step == TraceMatrix::up) {
            --i;
        } else {
            --j;
        }
    }
    std::reverse(path.textIndices.begin(), path.textIndices.end());
    std::reverse(path.timeIndices.begin(), path.timeIndices.end());
    return path;
}

std::vector<WordTiming> SegmentSeeker::mergePunctuations(const std::vector<WordTiming>& alignment,
    std::string_view prepended, std::string_view appended) const
{
    if (alignment.empty()) {
        return {};
    }
    auto absorb = [](WordTiming& into, const WordTiming& next) {
        into.word += next.word;
        into.tokens.insert(into.tokens.end(), next.tokens.begin(), next.tokens.end());
    };

    std::vector<WordTiming> prependPass;
    if (!holds(prepended, trimmedSpacesAndTabs(alignment.front().word))) {
        prependPass.push_back(alignment.front());
    }
    for (std::size_t k = 1; k < alignment.size(); ++k) {
        const auto& previous = alignment[k - 1];
        const auto& current = alignment[k];
        if (startsWithWhitespace(previous.word) && holds(prepended, trimmedSpacesAndTabs(previous.word))) {
            // An opening mark that led the list was held back; it carries its word and timing here.
            if (prependPass.empty()) {
                prependPass.push_back(previous);
            }
            absorb(prependPass.back(), current);
        } else {
            prependPass.push_back(current);
        }
    }

    std::vector<WordTiming> appendPass;
    if (!prependPass.empty()) {
        appendPass.push_back(prependPass.front());
    }
    for (std::size_t k = 1; k < prependPass.size(); ++k) {
        const auto& previous = prependPass[k - 1];
        const auto& current = prependPass[k];
        if (!previous.word.ends_with(' ') && holds(appended, trimmedSpacesAndTabs(current.word))) {
            absorb(appendPass.back(), current);
        } else {
            appendPass.push_back(current);
        }
    }

    std::vector<WordTiming> result;
    for (auto& entry : appendPass) {
        if (!entry.word.empty() && !holds(appended, entry.word) && !holds(prepended, entry.word)) {
            result.push_back(std::move(entry));
        }
    }
    return result;
}

} // namespace auris
