#include "Auris/Core/WhisperError.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"

#include "Auris/Text/DecoderFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace auris;
using namespace testsupport;

TEST(LanguageDetection, PicksTheMostLikelyLanguageTokenFromFreshInputs)
{
    DecoderFixture fixture;
    fixture.load(true);
    // Text token "b" scores highest, then Slovak, German and English (0); only languages may be chosen.
    fixture.script->logitsFor = [](int, const DecoderStep&) {
        auto scores = favouring(ids::b);
        scores[ids::sk] = 5.0f;
        scores[ids::de] = 4.0f;
        return scores;
    };
    DecodingOptions options;
    auto prefilled = fixture.windowInputs(options);
    const auto keysBefore = prefilled.keyCache.toFloats();
    const auto paddingBefore = prefilled.decoderKeyPaddingMask.toFloats();

    testsupport::CapturedLog log(Logging::LogLevel::debug);
    GreedyTokenSampler sampler(0.0f, ids::end, options);
    const auto result = fixture.decoder.detectLanguage(fixture.encoderOutput(), prefilled, sampler, options, 0.0f);
    EXPECT_EQ(result.language, "sk");
    ASSERT_EQ(result.languageProbs.size(), 1u);
    EXPECT_NEAR(result.languageProbs.at("sk"), 5.0 - std::log(std::exp(5.0) + std::exp(4.0) + 1.0), 1e-5);
    EXPECT_TRUE(result.tokens.empty());
    EXPECT_EQ(result.text, "");
    EXPECT_FALSE(result.cache);
    EXPECT_FALSE(result.fallback);
    ASSERT_TRUE(result.timings);
    EXPECT_EQ(result.timings->firstTokenTime, std::numeric_limits<double>::max());
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Detected language: sk"), lines.end());

    // The model saw a first step of its own; the caller's prefilled record is untouched.
    const auto steps = fixture.script->recorded();
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].inputId, ids::sot);
    EXPECT_EQ(steps[0].cacheLength, 0);
    EXPECT_EQ(steps[0].updateMask[0], 1.0f);
    EXPECT_EQ(std::count(steps[0].updateMask.begin(), steps[0].updateMask.end(), 1.0f), 1);
    EXPECT_EQ(std::count(steps[0].paddingMask.begin(), steps[0].paddingMask.end(), 0.0f), 1);
    EXPECT_EQ(prefilled.cacheLength[0], 3.0);
    EXPECT_EQ(prefilled.inputIds[0], 0.0);
    EXPECT_EQ(prefilled.keyCache.toFloats(), keysBefore);
    EXPECT_EQ(prefilled.decoderKeyPaddingMask.toFloats(), paddingBefore);

}

TEST(LanguageDetection, FallsBackToEnglishAndReportsMissingParts)
{
    DecoderFixture fixture;
    GreedyTokenSampler sampler(0.0f, ids::end, DecodingOptions {});
    const DecodingOptions options;
    auto expectError = [&](WhisperError::Kind kind, const std::string& message) {
        try {
            fixture.decoder.detectLanguage(fixture.encoderOutput(), DecodingInputs {}, sampler, options, 0.0f);
            ADD_FAILURE() << "expected " << message;
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.kind(), kind);
            EXPECT_EQ(error.message(), message);
        }
    };
    expectError(WhisperError::Kind::tokenizerUnavailable, "Tokenizer is unavailable");
    fixture.decoder.setTokenizer(makeSmallTokenizer());
    expectError(WhisperError::Kind::modelsUnavailable, "Failed to read logits size from model");

    // A tokenizer without language tokens leaves nothing to choose: English, with the error logged.
    fixture.load(false);
    fixture.decoder.setTokenizer(makeSmallTokenizer(false));
    fixture.script->logitsFor = [](int, const DecoderStep&) { return favouring(ids::b); };
    testsupport::CapturedLog log(Logging::LogLevel::error);
    const auto result = fixture.decoder.detectLanguage(fixture.encoderOutput(), DecodingInputs {}, sampler, options, 0.0f);
    EXPECT_EQ(result.language, "en");
    EXPECT_TRUE(result.languageProbs.empty());
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Detected language endoftext is not supported, defaulting to en");
}
