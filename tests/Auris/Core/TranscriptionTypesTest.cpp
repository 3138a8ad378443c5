#include "Auris/Core/DecodingResult.hpp"
#include "Auris/Core/TranscriptionCoding.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Core/WhisperError.hpp"

#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

using namespace auris;
using testsupport::CapturedLog;
using Level = Logging::LogLevel;

namespace {

TranscriptionResult sampleResult()
{
    TranscriptionResult result;
    result.text = " Hello world. Caf\xC3\xA9";
    result.language = "en";
    TranscriptionSegment first;
    first.id = 0;
    first.seek = 0;
    first.start = 1.234f;
    first.end = 5.678f;
    first.text = " Hello world.";
    first.tokens = {50364, 2425, 1002, 13};
    first.tokenLogProbs = {{{2425, -0.1f}}, {{1002, -0.25f}, {7, -3.5f}}};
    first.temperature = 0.2f;
    first.avgLogprob = -0.3f;
    first.compressionRatio = std::numeric_limits<float>::infinity();
    first.noSpeechProb = 0.01f;
    first.words = std::vector<WordTiming> {{" Hello", {2425}, 1.24f, 1.6f, 0.9f}, {" world.", {1002, 13}, 1.6f, 2.0f, 0.75f}};
    TranscriptionSegment second;
    second.id = 1;
    second.seek = 3000;
    second.start = 30.0f;
    second.end = 31.5f;
    second.text = " Caf\xC3\xA9";
    second.tokens = {7};
    second.compressionRatio = std::nanf("");
    result.segments = {first, second};
    result.timings.fullPipeline = 2.5;
    result.timings.totalDecodingFallbacks = 1;
    result.seekTime = 12.5f;
    return result;
}

bool sameSegment(const TranscriptionSegment& a, const TranscriptionSegment& b)
{
    auto same = [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    return a.id == b.id && a.seek == b.seek && a.start == b.start && a.end == b.end && a.text == b.text
        && a.tokens == b.tokens && a.tokenLogProbs == b.tokenLogProbs && a.temperature == b.temperature
        && a.avgLogprob == b.avgLogprob && same(a.compressionRatio, b.compressionRatio)
        && a.noSpeechProb == b.noSpeechProb && a.words == b.words;
}

} // namespace

TEST(TranscriptionCoding, ResultsRoundTripWithKeysInFieldOrder)
{
    const TranscriptionResult result = sampleResult();
    const std::string text = encodeTranscriptionResult(result, true);
    const TranscriptionResult decoded = decodeTranscriptionResult(text);
    EXPECT_EQ(decoded.text, result.text);
    EXPECT_EQ(decoded.language, "en");
    EXPECT_EQ(decoded.seekTime, 12.5f);
    EXPECT_EQ(decoded.timings, result.timings);
    ASSERT_EQ(decoded.segments.size(), 2u);
    EXPECT_TRUE(sameSegment(decoded.segments[0], result.segments[0]));
    EXPECT_TRUE(sameSegment(decoded.segments[1], result.segments[1]));
    EXPECT_TRUE(std::isinf(decoded.segments[0].compressionRatio));
    EXPECT_FALSE(decoded.segments[1].words);

    const auto json = toJSON(result);
    std::vector<std::string> keys;
    for (const auto& [key, value] : json.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string> {"text", "segments", "language", "timings", "seekTime"}));
    keys.clear();
    for (const auto& [key, value] : json["segments"][0].items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string> {"id", "seek", "start", "end", "text", "tokens", "tokenLogProbs",
                        "temperature", "avgLogprob", "compressionRatio", "noSpeechProb", "words"}));
    EXPECT_EQ(json["timings"].size(), 28u);
    EXPECT_EQ(json["timings"].begin().key(), "pipelineStart");
    EXPECT_EQ(json["segments"][0]["words"][0].begin().key(), "word");
    EXPECT_EQ(json["segments"][0]["tokenLogProbs"][1]["7"], -3.5);
    // Floats keep their short decimal form.
    EXPECT_NE(text.find("\"start\": 1.234,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"compressionRatio\": \"inf\""), std::string::npos);

    TranscriptionResult withoutSeek = result;
    withoutSeek.seekTime.reset();
    EXPECT_FALSE(toJSON(withoutSeek).contains("seekTime"));
    EXPECT_FALSE(decodeTranscriptionResult(encodeTranscriptionResult(withoutSeek)).seekTime);
}

TEST(TranscriptionCoding, ReadingRequiresKeysAndIgnoresUnknownOnes)
{
    nlohmann::json json = nlohmann::json::parse(encodeTranscriptionResult(sampleResult()));
    json["extra"] = {1, 2};
    json["segments"][0]["unknown"] = "x";
    json["segments"][0].erase("words");
    const auto decoded = transcriptionResultFromJSON(json);
    EXPECT_FALSE(decoded.segments[0].words);

    auto without = [&](auto edit) {
        nlohmann::json copy = json;
        edit(copy);
        return copy;
    };
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j["segments"][0].erase("tokens"); })), ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j.erase("language"); })), ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j["timings"].erase("fullPipeline"); })), ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j["segments"][0]["start"] = "soon"; })), ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j["segments"][0]["seek"] = 1e12; })), ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j["segments"][0]["tokenLogProbs"][0] = {{"x1", 0.5}}; })),
        ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(without([](auto& j) { j["segments"] = {1}; })), ResultCodingError);
    EXPECT_THROW(transcriptionResultFromJSON(nlohmann::json::array()), ResultCodingError);
    EXPECT_THROW(decodeTranscriptionResult("{\"text\": "), ResultCodingError);

    // Malformed UTF-8 in a text is written as a replacement character, not refused.
    TranscriptionResult broken;
    broken.text = "a\xFF";
    EXPECT_EQ(decodeTranscriptionResult(encodeTranscriptionResult(broken)).text, "a\xEF\xBF\xBD");
}

TEST(TranscriptionResult, LogsSegmentsAndTheTimingReport)
{
    TranscriptionResult result;
    result.segments = {TranscriptionSegment {.start = 1.234f, .end = 5.678f, .text = " Hi", .tokens = {1, 2, 3}},
        TranscriptionSegment {.start = 6, .end = 7, .text = " there", .tokens = {4, 5, 6, 7}}};
    TranscriptionTimings& t = result.timings;
    t.modelLoading = 1.5;
    t.audioLoading = 0.25;
    t.audioProcessing = 0.1;
    t.totalAudioProcessingRuns = 2;
    t.logmels = 0.2;
    t.totalLogmelRuns = 2;
    t.encoding = 0.4;
    t.totalEncodingRuns = 2;
    t.decodingInit = 0.01;
    t.prefill = 0.02;
    t.decodingPredictions = 0.6;
    t.totalDecodingLoops = 30;
    t.decodingNonPrediction = 0.3;
    t.decodingFiltering = 0.05;
    t.decodingSampling = 0.1;
    t.decodingKvCaching = 0.08;
    t.totalKVUpdateRuns = 30;
    t.decodingWordTimestamps = 0.04;
    t.totalTimestampAlignmentRuns = 2;
    t.decodingWindowing = 0.07;
    t.totalDecodingWindows = 2;
    t.decodingFallback = 0.2;
    t.totalDecodingFallbacks = 2;
    t.decodingLoop = 1.0;
    t.fullPipeline = 2.0;
    t.pipelineStart = 100;
    t.firstTokenTime = 100.5;
    t.inputAudioSeconds = 10;

    {
        CapturedLog log(Level::debug);
        result.logSegments();
        result.logTimings();
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "[Segment 0] [1.23 --> 5.68]  Hi");
        EXPECT_EQ(lines[1], "[Segment 1] [6.00 --> 7.00]  there");
        EXPECT_EQ(lines[2],
            "---- Transcription Timings ----\n"
            "Audio Load:            250.00 ms /      1 runs (  250.00 ms/run) 12.50%\n"
            "Audio Processing:      100.00 ms /      2 runs (   50.00 ms/run)  5.00%\n"
            "Mels:                  200.00 ms /      2 runs (  100.00 ms/run) 10.00%\n"
            "Encoding:              400.00 ms /      2 runs (  200.00 ms/run) 20.00%\n"
            "Matrices Init:          10.00 ms /      1 runs (   10.00 ms/run)  0.50%\n"
            "Prefill:                20.00 ms /      1 runs (   20.00 ms/run)  1.00%\n"
            "Decoding:              600.00 ms /     30 runs (   20.00 ms/run) 30.00%\n"
            "Non-inference:         300.00 ms /     30 runs (   10.00 ms/run) 15.00%\n"
            "- Logit Filtering:      50.00 ms /     30 runs (    1.67 ms/run)  2.50%\n"
            "- Sampling:            100.00 ms /     30 runs (    3.33 ms/run)  5.00%\n"
            "- Kv Caching:           80.00 ms /     30 runs (    2.67 ms/run)  4.00%\n"
            "- Word Timestamps:      40.00 ms /      2 runs (   20.00 ms/run)  2.00%\n"
            "- Windowing:            30.00 ms /      2 runs (   15.00 ms/run)  1.50%\n"
            "Fallbacks:             200.00 ms /      2 runs (  100.00 ms/run) 10.00%\n"
            "Decoding Full Loop:   1000.00 ms /     30 runs (   33.33 ms/run) 50.00%\n"
            "-------------------------------\n"
            "Model Load Time:               1.50 seconds\n"
            "Inference Duration (Global):   2.00 seconds\n"
            "- Decoding Loop (Avg/window):  0.50 seconds\n"
            "- Audio Windows:               2.00\n"
            "Time to first token:           0.50 seconds\n"
            "Total Tokens:                  7\n"
            "Tokens per Second:             15.00 tok/s\n"
            "Real Time Factor:              0.200\n"
            "Fallbacks:                     2.0");
    }
    {
        // A loop longer than the whole call becomes the base of the percentages.
        t.decodingLoop = 4.0;
        result.segments.clear();
        CapturedLog log(Level::info);
        result.logSegments();
        result.logTimings();
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("Audio Load:            250.00 ms /      1 runs (  250.00 ms/run)  6.25%"), std::string::npos);
        EXPECT_NE(lines[0].find("\nTotal Tokens:                  0\n"), std::string::npos);
    }
}

TEST(TranscriptionTypes, DefaultsShiftingAndErrors)
{
    const TranscriptionTimings timings;
    EXPECT_EQ(timings.pipelineStart, std::numeric_limits<double>::max());
    EXPECT_EQ(timings.inputAudioSeconds, 0.001);
    EXPECT_EQ(timings.realTimeFactor(), 0);
    EXPECT_TRUE(std::isinf(timings.speedFactor()));
    EXPECT_FALSE(DecodingResult::emptyResults().timings);
    EXPECT_EQ(TranscriptionSegment {}.tokenLogProbs.size(), 1u);

    TranscriptionSegment segment {.seek = 100, .start = 1, .end = 2, .words = std::vector<WordTiming> {{"a", {1}, 1.5f, 1.75f, 1}}};
    const auto shifted = updateSegmentTimings(segment, 2.5f);
    EXPECT_EQ(shifted.seek, 40100);
    EXPECT_EQ(shifted.start, 3.5f);
    EXPECT_EQ(shifted.end, 4.5f);
    EXPECT_EQ(shifted.words->at(0).start, 4.0f);
    EXPECT_EQ(shifted.words->at(0).end, 4.25f);
    EXPECT_EQ(updateSegmentTimings(segment, -0.00001f).seek, 100); // truncated toward zero
    EXPECT_EQ(updateSegmentTimings(segment, std::nanf("")).seek, 100);
    EXPECT_EQ(updateSegmentTimings(segment, 1e30f).seek, std::numeric_limits<int>::max());
    EXPECT_EQ(updateSegmentTimings(segment, -std::numeric_limits<float>::infinity()).seek, std::numeric_limits<int>::min() + 100);

    std::unordered_set<TranscriptionSegment> segments {segment, shifted, segment};
    EXPECT_EQ(segments.size(), 2u);

    CapturedLog log(Level::error);
    const auto error = WhisperError::tokenizerUnavailable();
    EXPECT_EQ(error.errorDescription(), "Tokenizer is unavailable");
    EXPECT_EQ(error.errorDescription(), "Tokenizer is unavailable");
    EXPECT_EQ(log.lines(), (std::vector<std::string> {"Tokenizer is unavailable", "Tokenizer is unavailable"}));
    EXPECT_EQ(error, WhisperError::tokenizerUnavailable("Tokenizer is unavailable"));
    EXPECT_FALSE(error == WhisperError::modelsUnavailable("Tokenizer is unavailable"));
}
