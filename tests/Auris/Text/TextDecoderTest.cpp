#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"

#include "Auris/Text/DecoderFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace auris;
using namespace testsupport;

namespace {

DecodingOptions quietOptions()
{
    DecodingOptions options;
    options.withoutTimestamps = true;
    return options;
}

GreedyTokenSampler greedy(float temperature = 0.0f) { return GreedyTokenSampler(temperature, ids::end, DecodingOptions {}); }

std::vector<float> oneHot(int size, int position)
{
    std::vector<float> values(static_cast<std::size_t>(size), 0.0f);
    values[static_cast<std::size_t>(position)] = 1.0f;
    return values;
}

std::vector<float> visibleUpTo(int size, int last)
{
    std::vector<float> values(static_cast<std::size_t>(size), -10000.0f);
    for (int i = 0; i <= last; ++i) values[static_cast<std::size_t>(i)] = 0.0f;
    return values;
}

// Uniform scores: every token has log-probability ln(1/24), below the first-token threshold.
std::vector<float> uncertain() { return std::vector<float>(ids::vocabulary, 0.0f); }

} // namespace

TEST(TextDecoder, EachStepSeesItsPositionAndTheCacheHoldsEveryUpdate)
{
    DecoderFixture fixture;
    fixture.load(true);
    fixture.script->logitsFor = answering({ids::b, ids::c, ids::d});
    const auto options = quietOptions();
    auto inputs = fixture.windowInputs(options);
    ASSERT_EQ(inputs.initialPrompt, (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps}));
    ASSERT_EQ(inputs.cacheLength[0], 3.0);

    testsupport::CapturedLog log(Logging::LogLevel::debug);
    auto sampler = greedy();
    const auto result = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);

    const auto steps = fixture.script->recorded();
    ASSERT_EQ(steps.size(), 4u);
    const std::vector<int> fed {ids::noTimestamps, ids::b, ids::c, ids::d};
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const int i = 3 + static_cast<int>(n);
        EXPECT_EQ(steps[n].cacheLength, i);
        EXPECT_EQ(steps[n].inputId, fed[n]);
        EXPECT_EQ(steps[n].updateMask, oneHot(16, i)) << "step " << i;
        EXPECT_EQ(steps[n].paddingMask, visibleUpTo(16, i)) << "step " << i;
    }
    // The record's arrays were written in place: prefill in columns 0-2, step n's update in column 3 + n.
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 16; ++column) {
            double expected = 0;
            if (column < 3) expected = 1000 + 8 * row + column;
            else if (column < 6) expected = (column - 3) * 8 + row;
            EXPECT_EQ(inputs.keyCache.value({0, row, 0, column}), expected) << row << "," << column;
            EXPECT_EQ(inputs.valueCache.value({0, row, 0, column}), -expected) << row << "," << column;
        }
    }
    // The end token ends the loop without a cache update.
    EXPECT_EQ(inputs.kvCacheUpdateMask.toFloats(), oneHot(16, 6));

    EXPECT_EQ(result.tokens, (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps, ids::b, ids::c,
                                 ids::d, ids::end}));
    EXPECT_EQ(result.text, "<|startoftranscript|><|en|><|transcribe|><|notimestamps|>bcd<|endoftext|>");
    ASSERT_EQ(result.tokenLogProbs.size(), 8u);
    EXPECT_EQ(result.tokenLogProbs[0], (std::map<int, float> {{ids::sot, 0.0f}}));
    EXPECT_NEAR(result.tokenLogProbs[4].at(ids::b), -0.00104, 1e-4);
    EXPECT_EQ(result.tokenLogProbs[7], (std::map<int, float> {{ids::end, 0.0f}}));
    EXPECT_NEAR(result.avgLogProb, 3 * result.tokenLogProbs[4].at(ids::b) / 8, 1e-6);
    EXPECT_EQ(result.language, "en");
    EXPECT_EQ(result.languageProbs, (std::map<std::string, float> {{"en", 0.0f}}));
    EXPECT_FALSE(result.fallback);
    ASSERT_TRUE(result.cache);
    EXPECT_EQ(result.cache->keyCache->dataPointer(), inputs.keyCache.dataPointer());
    EXPECT_FALSE(result.cache->alignmentWeights);
    EXPECT_EQ(inputs.alignmentWeights.toFloats(), std::vector<float>(16 * 6, 0.0f));
    ASSERT_TRUE(result.timings);
    EXPECT_EQ(result.timings->totalDecodingLoops, 4.0);
    EXPECT_EQ(result.timings->totalKVUpdateRuns, 3.0);
    EXPECT_LT(result.timings->firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_EQ(fixture.decoder.shouldEarlyStop().count(), 0u);

    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Running main loop for a maximum of 15 iterations, starting at index 3"),
        lines.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "--------------- DECODER INPUTS DEBUG ---------------"), 4);
}

TEST(TextDecoder, FeedsThePromptBeforeSamplingAndJudgesOnlySampledTokens)
{
    DecoderFixture fixture;
    fixture.load(false);
    // While the prompt is fed the model is unsure and even proposes the end token; neither counts.
    fixture.script->logitsFor = [](int call, const DecoderStep&) {
        if (call == 0) return favouring(ids::end);
        if (call < 3) return uncertain();
        return favouring(call == 3 ? ids::a : ids::end);
    };
    const auto options = quietOptions();
    auto inputs = fixture.windowInputs(options);
    ASSERT_EQ(inputs.cacheLength[0], 0.0);
    auto sampler = greedy();
    const auto result = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);

    const auto steps = fixture.script->recorded();
    ASSERT_EQ(steps.size(), 5u);
    std::vector<int> fed;
    for (std::size_t n = 0; n < steps.size(); ++n) {
        fed.push_back(steps[n].inputId);
        EXPECT_EQ(steps[n].cacheLength, static_cast<int>(n));
        EXPECT_EQ(steps[n].updateMask, oneHot(16, static_cast<int>(n)));
        EXPECT_EQ(steps[n].paddingMask, visibleUpTo(16, static_cast<int>(n)));
    }
    EXPECT_EQ(fed, (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps, ids::a}));
    EXPECT_EQ(result.tokens,
        (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps, ids::a, ids::end}));
    EXPECT_FALSE(result.fallback);

    // An unsure first sampled token stops the window and asks for a fallback.
    DecoderFixture unsure;
    unsure.load(false);
    unsure.script->logitsFor = [](int call, const DecoderStep&) { return call < 3 ? favouring(ids::b) : uncertain(); };
    auto unsureInputs = unsure.windowInputs(options);
    auto unsureSampler = greedy();
    const auto rejected = unsure.decoder.decodeText(unsure.encoderOutput(), unsureInputs, unsureSampler, options);
    EXPECT_EQ(unsure.script->recorded().size(), 4u);
    EXPECT_EQ(rejected.tokens, (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps, ids::end}));
    ASSERT_TRUE(rejected.fallback);
    EXPECT_TRUE(rejected.fallback->needsFallback);
    EXPECT_EQ(rejected.fallback->fallbackReason, "firstTokenLogProbThreshold");
}

TEST(TextDecoder, TheTokenCapAndTheSampleLengthBoundTheLoop)
{
    DecoderFixture fixture;
    fixture.script->sequenceLength = 224;
    fixture.load(true);
    fixture.script->logitsFor = [](int, const DecoderStep&) { return favouring(ids::b); };
    auto options = quietOptions();
    options.compressionRatioThreshold.reset();
    auto sampler = greedy();

    auto inputs = fixture.windowInputs(options);
    const auto capped = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
    EXPECT_EQ(capped.tokens.size(), 224u);
    EXPECT_EQ(capped.tokens.back(), ids::end);
    EXPECT_EQ(std::count(capped.tokens.begin(), capped.tokens.end(), ids::end), 1);
    EXPECT_EQ(fixture.script->recorded().back().cacheLength, 222);

    // A sample length of 10 stops at index 9; one equal to the prefilled size runs no step at all.
    for (const auto& [length, expectedSteps, expectedTokens] :
        std::vector<std::tuple<int, std::size_t, std::size_t>> {{10, 7, 12}, {3, 0, 5}, {1, 0, 5}}) {
        fixture.script->steps.clear();
        options.sampleLength = length;
        inputs.reset(4, 224);
        const auto result = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
        EXPECT_EQ(fixture.script->recorded().size(), expectedSteps) << length;
        EXPECT_EQ(result.tokens.size(), expectedTokens) << length;
        EXPECT_EQ(result.tokens.back(), ids::end);
    }
    EXPECT_EQ(fixture.decoder.shouldEarlyStop().count(), 0u);
}

TEST(TextDecoder, FillsAlignmentRowsOnlyWhenTheModelGivesThem)
{
    DecoderFixture fixture;
    fixture.script->alignment = true;
    fixture.load(true);
    fixture.script->logitsFor = answering({ids::b, ids::c});
    auto inputs = fixture.windowInputs(quietOptions());
    auto sampler = greedy();
    const auto result = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, quietOptions());
    ASSERT_TRUE(result.cache && result.cache->alignmentWeights);
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 6; ++column) {
            // Steps at indexes 3 and 4 (calls 0 and 1) fill rows 4 and 5; call 2 ends the loop.
            const double expected = row == 4 || row == 5 ? (row - 4) + column / 4.0 : 0.0;
            EXPECT_EQ(inputs.alignmentWeights.value({row, column}), expected) << row << "," << column;
        }
    }
}

TEST(TextDecoder, ProgressReportsTheWindowAndAFalseAnswerStopsIt)
{
    DecoderFixture fixture;
    fixture.load(false);
    fixture.script->logitsFor = answering({ids::a, ids::a, ids::a, ids::b, ids::c, ids::d, ids::e});
    auto options = quietOptions();
    options.skipSpecialTokens = true;
    auto sampler = greedy();

    // False while the prompt is fed is ignored; false for the second sampled token stops the window.
    std::vector<TranscriptionProgress> reports;
    auto inputs = fixture.windowInputs(options);
    const auto stopped = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options,
        [&](const TranscriptionProgress& progress) -> std::optional<bool> {
            reports.push_back(progress);
            return reports.size() != 1 && reports.size() != 5;
        });
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[3].tokens, (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps, ids::b}));
    EXPECT_EQ(reports[4].text, "bc");
    EXPECT_EQ(reports[4].windowId, 0);
    EXPECT_FALSE(reports[4].temperature);
    ASSERT_TRUE(reports[4].avgLogprob);
    EXPECT_LT(*reports[4].avgLogprob, 0.0f);
    EXPECT_EQ(stopped.tokens,
        (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::noTimestamps, ids::b, ids::c, ids::end}));
    EXPECT_FALSE(stopped.fallback);

    // None never stops; special tokens stay in the text without skipSpecialTokens.
    fixture.script->steps.clear();
    options.skipSpecialTokens = false;
    inputs.reset(1, 16);
    std::string lastText;
    const auto full = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options,
        [&](const TranscriptionProgress& progress) -> std::optional<bool> {
            lastText = progress.text;
            return std::nullopt;
        });
    EXPECT_EQ(full.tokens.size(), 9u);
    EXPECT_EQ(lastText, "<|startoftranscript|><|en|><|transcribe|><|notimestamps|>bcde");
    EXPECT_EQ(fixture.decoder.shouldEarlyStop().count(), 0u);
}

TEST(TextDecoder, DeliversProgressInOrderOnItsOwnWorker)
{
    auto queue = std::make_shared<SerialProgressQueue>();
    DecoderFixture fixture;
    TextDecoder decoder(queue);
    decoder.loadModel(writeScriptedDecoder(fixture.dir, fixture.script), ml::ComputeUnits::cpuOnly, false);
    decoder.setTokenizer(makeSmallTokenizer());
    decoder.setIsModelMultilingual(true);
    fixture.script->logitsFor = answering({ids::a, ids::a, ids::a, ids::b, ids::c, ids::d});

    std::mutex mutex;
    std::vector<std::size_t> counts;
    std::vector<std::thread::id> threads;
    const auto options = quietOptions();
    auto inputs = decoder.prefillDecoderInputs(decoder.prepareDecoderInputs({ids::sot}), options);
    inputs.reset(1, 16);
    auto sampler = greedy();
    decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options,
        [&](const TranscriptionProgress& progress) -> std::optional<bool> {
            std::lock_guard lock(mutex);
            counts.push_back(progress.tokens.size());
            threads.push_back(std::this_thread::get_id());
            return true;
        });
    queue->waitUntilIdle();
    EXPECT_EQ(counts, (std::vector<std::size_t> {4, 4, 4, 5, 6, 7}));
    for (const auto& id : threads) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, threads.front());
    }
}

TEST(TextDecoder, ResultCarriesTheVerdictLanguageAndTemperature)
{
    DecoderFixture fixture;
    fixture.load(true);
    auto decode = [&](DecodingOptions options, TokenSampling& sampler, std::vector<int> answers) {
        fixture.script->logitsFor = answering(std::move(answers));
        fixture.script->steps.clear();
        auto inputs = fixture.windowInputs(options);
        return fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
    };
    auto sampler = greedy(0.2f);

    auto repetitive = quietOptions();
    repetitive.compressionRatioThreshold = 1.5f;
    const auto repeated = decode(repetitive, sampler, std::vector<int>(9, ids::b));
    ASSERT_TRUE(repeated.fallback);
    EXPECT_EQ(repeated.fallback->fallbackReason, "compressionRatioThreshold");
    EXPECT_GT(repeated.compressionRatio, 1.5f);
    EXPECT_EQ(repeated.temperature, 0.2f);

    // A language given in the options wins over the token the prompt carries.
    auto slovak = quietOptions();
    slovak.language = "sk";
    fixture.decoder.setIsModelMultilingual(false);
    GreedyTokenSampler precise(0.12345f, ids::end, DecodingOptions {});
    const auto given = decode(slovak, precise, {ids::b});
    EXPECT_EQ(given.language, "sk");
    EXPECT_EQ(given.languageProbs, (std::map<std::string, float> {{"sk", 0.0f}}));
    EXPECT_EQ(given.temperature, 0.123f);

    // Without a language token or option the window counts as English.
    slovak.language.reset();
    const auto english = decode(slovak, precise, {ids::b});
    EXPECT_EQ(english.language, "en");
    EXPECT_EQ(english.languageProbs, (std::map<std::string, float> {{"en", 0.0f}}));
}

TEST(TextDecoder, FailuresLeaveNoEarlyStopEntryBehind)
{
    DecoderFixture fixture;
    auto sampler = greedy();
    const auto options = quietOptions();
    DecodingInputs empty;
    try {
        fixture.decoder.decodeText(fixture.encoderOutput(), empty, sampler, options);
        FAIL();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::tokenizerUnavailable);
    }

    fixture.load(false);
    auto inputs = fixture.windowInputs(options);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options, {}, stop.get_token()),
        CancellationError);
    EXPECT_TRUE(fixture.script->recorded().empty());
    EXPECT_EQ(fixture.decoder.shouldEarlyStop().count(), 0u);

    fixture.decoder.WhisperMLModel::unloadModel();
    try {
        fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
        FAIL();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::decodingLogitsFailed);
        EXPECT_EQ(error.message(), "Unable to decode logits");
    }
    EXPECT_EQ(fixture.decoder.shouldEarlyStop().count(), 0u);

    inputs.initialPrompt.clear();
    EXPECT_THROW(fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options), WhisperError);
}

TEST(TextDecoder, AResetWindowStartsFromTheSamePrefilledState)
{
    DecoderFixture fixture;
    fixture.load(true);
    fixture.script->logitsFor = answering({ids::b, ids::c, ids::d, ids::e, ids::a, ids::b, ids::c, ids::d});
    auto options = quietOptions();
    options.compressionRatioThreshold.reset();
    auto inputs = fixture.windowInputs(options);
    auto sampler = greedy();
    fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
    const auto first = fixture.script->recorded().front();

    fixture.script->steps.clear();
    inputs.reset(4, 16);
    fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
    const auto second = fixture.script->recorded().front();
    EXPECT_EQ(second.cacheLength, first.cacheLength);
    EXPECT_EQ(second.inputId, first.inputId);
    EXPECT_EQ(second.updateMask, first.updateMask);
    EXPECT_EQ(second.paddingMask, first.paddingMask);
}

TEST(TextDecoder, ConvertsHalfPrecisionLogitsForTheFilters)
{
    DecoderFixture fixture;
    fixture.script->logitsType = ml::MultiArrayDataType::float16;
    fixture.load(true);
    fixture.script->logitsFor = answering({ids::b});
    DecodingOptions options;  // timestamps on: the timestamp filter reads these logits
    options.supressTokens = {ids::c, -5, 1000};
    auto inputs = fixture.windowInputs(options);
    auto sampler = greedy();
    testsupport::CapturedLog log(Logging::LogLevel::error);
    const auto result = fixture.decoder.decodeText(fixture.encoderOutput(), inputs, sampler, options);
    EXPECT_EQ(result.tokens,
        (std::vector<int> {ids::sot, ids::en, ids::transcribe, ids::timeBegin, ids::b, ids::end}));
    EXPECT_EQ(log.lines().size(), 2u);
}
