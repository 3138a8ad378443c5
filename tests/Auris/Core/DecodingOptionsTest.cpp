#include "Auris/Core/DecodingOptions.hpp"

#include <cmath>
#include <gtest/gtest.h>

using namespace auris;

TEST(DecodingOptions, DefaultsAndTheLabelledInitialiser)
{
    const DecodingOptions defaults;
    EXPECT_EQ(DecodingOptions(DecodingOptions::Arguments {}), defaults);
    EXPECT_FALSE(defaults.detectLanguage);
    EXPECT_TRUE(defaults.supressTokens.empty());
    EXPECT_EQ(defaults.sampleLength, 224);
    EXPECT_EQ(defaults.compressionRatioThreshold, 2.4f);

    EXPECT_TRUE(DecodingOptions({.usePrefillPrompt = false}).detectLanguage);
    EXPECT_FALSE(DecodingOptions({.usePrefillPrompt = false, .detectLanguage = false}).detectLanguage);
    EXPECT_EQ(DecodingOptions({.supressTokens = std::vector<int> {1, 2}}).supressTokens, (std::vector<int> {1, 2}));
}

TEST(DecodingOptions, FallbackVerdictOrderAndStrictComparisons)
{
    const DecodingOptions options;
    EXPECT_EQ(DecodingFallback::make(options, true, 0.9f, 1.0f, 0.0f)->fallbackReason, "firstTokenLogProbThreshold");
    auto silence = DecodingFallback::make(options, false, 0.9f, 5.0f, -5.0f);
    EXPECT_EQ(silence->fallbackReason, "silence");
    EXPECT_FALSE(silence->needsFallback);
    EXPECT_EQ(DecodingFallback::make(options, false, 0.1f, 3.0f, 0.0f)->fallbackReason, "compressionRatioThreshold");
    EXPECT_EQ(DecodingFallback::make(options, false, 0.1f, 1.0f, -2.0f)->fallbackReason, "logProbThreshold");
    EXPECT_FALSE(DecodingFallback::make(options, false, 0.1f, 2.4f, -1.0f));

    DecodingOptions unset;
    unset.compressionRatioThreshold.reset();
    unset.logProbThreshold.reset();
    unset.noSpeechThreshold.reset();
    EXPECT_FALSE(DecodingFallback::make(unset, false, 1.0f, 100.0f, -100.0f));
}

TEST(DecodingOptions, SeekClipsPairTimestampsInSamples)
{
    EXPECT_EQ(resolveSeekClips(1000, std::nullopt), (std::vector<std::pair<int, int>> {{0, 1000}}));
    DecodingOptions options;
    options.clipTimestamps = {5.0f};
    EXPECT_EQ(resolveSeekClips(200000, options), (std::vector<std::pair<int, int>> {{80000, 200000}}));
    options.clipTimestamps = {1.0f, 2.0f, 10.0f};
    EXPECT_EQ(resolveSeekClips(200000, options), (std::vector<std::pair<int, int>> {{16000, 32000}, {160000, 200000}}));
    options.clipTimestamps = {0.5f, 0.00003f};
    EXPECT_EQ(resolveSeekClips(9, options), (std::vector<std::pair<int, int>> {{8000, 0}}));
    options.clipTimestamps = {1e30f, std::nanf("")};
    EXPECT_EQ(resolveSeekClips(9, options).size(), 1u);

    EXPECT_EQ(chunkingStrategyFromRawValue("vad"), ChunkingStrategy::vad);
    EXPECT_FALSE(chunkingStrategyFromRawValue("VAD"));
    EXPECT_EQ(description(ModelVariant::largev2), "large-v2");
    EXPECT_FALSE(isMultilingual(ModelVariant::tinyEn));
    EXPECT_EQ(description(ModelState::prewarmed), "Specialized");
}
