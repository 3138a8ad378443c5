#include "Auris/Core/WhisperError.hpp"
#include "Auris/Filters/SuppressBlankFilter.hpp"
#include "Auris/Filters/SuppressTokensFilter.hpp"
#include "Auris/Filters/TimestampRulesFilter.hpp"
#include "Auris/Text/TokenLoop.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"

#include "Auris/Text/DecoderFixtures.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace auris;
using namespace testsupport;

namespace {

DecodingInputs inputsWith(std::vector<int> prompt, double cacheLength, int positions)
{
    const auto float32 = ml::MultiArrayDataType::float32;
    DecodingInputs inputs;
    inputs.initialPrompt = std::move(prompt);
    inputs.inputIds = makeMultiArray({1}, ml::MultiArrayDataType::int32, 0);
    inputs.cacheLength = makeMultiArray({1}, float32, cacheLength);
    inputs.keyCache = makeMultiArray({1, 2, 1, positions}, float32, 0);
    inputs.valueCache = makeMultiArray({1, 2, 1, positions}, float32, 0);
    inputs.kvCacheUpdateMask = makeMultiArray({positions}, float32, 0);
    inputs.decoderKeyPaddingMask = makeMultiArray({positions}, float32, 0);
    return inputs;
}

} // namespace

TEST(TokenLoop, BoundsComeFromThePromptTheCacheAndTheSmallestLimit)
{
    // A prefilled cache of three and a four-token prompt: the first kept token is sampled at index 3.
    const auto prefilled = TokenLoop::loopBounds(inputsWith({ids::sot, ids::en, ids::transcribe, ids::noTimestamps}, 3, 224), 224);
    EXPECT_EQ(prefilled.prefilledIndex, 3);
    EXPECT_EQ(prefilled.firstSampledIndex, 3);
    EXPECT_EQ(prefilled.limit, TokenLoop::maxTokenCount);
    // Without a prefilled cache the prompt is fed first; the cache's last position is never written past.
    const auto fed = TokenLoop::loopBounds(inputsWith({ids::sot, ids::en, ids::transcribe}, 0, 16), 224);
    EXPECT_EQ(fed.firstSampledIndex, 2);
    EXPECT_EQ(fed.limit, 15);
    EXPECT_EQ(TokenLoop::loopBounds(inputsWith({ids::sot}, 0, 224), 10).limit, 10);

    for (const auto& refused : {inputsWith({}, 0, 16), inputsWith({ids::sot}, -1, 16),
             inputsWith({ids::sot}, std::nan(""), 16), inputsWith({ids::sot}, 0, 0)}) {
        EXPECT_THROW(TokenLoop::loopBounds(refused, 224), WhisperError);
    }
}

TEST(TokenLoop, FiltersLeaveOutForeignTokensAndCountTheInitialTimestampInWholeSteps)
{
    DecodingOptions options;
    options.suppressBlank = true;
    options.supressTokens = {-1, ids::b, ids::vocabulary, ids::e};
    options.maxInitialTimestamp = 0.999f;
    const auto filters = TokenLoop::makeFilters(options, makeSmallTokenizer()->specialTokens(), 4, ids::vocabulary, true);
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_NE(dynamic_cast<const SuppressBlankFilter*>(filters[0].get()), nullptr);
    const auto* suppress = dynamic_cast<const SuppressTokensFilter*>(filters[1].get());
    ASSERT_NE(suppress, nullptr);
    EXPECT_EQ(suppress->suppressTokens, (std::vector<int> {ids::b, ids::e}));
    const auto* timestamps = dynamic_cast<const TimestampRulesFilter*>(filters[2].get());
    ASSERT_NE(timestamps, nullptr);
    EXPECT_EQ(timestamps->maxInitialTimestampIndex, 49);

    EXPECT_EQ(TokenLoop::timestampIndex(std::nullopt), std::nullopt);
    EXPECT_EQ(TokenLoop::timestampIndex(std::nanf("")), std::nullopt);
    EXPECT_EQ(TokenLoop::timestampIndex(-1.0f), 0);
    EXPECT_EQ(TokenLoop::timestampIndex(std::numeric_limits<float>::max()), std::numeric_limits<int>::max());
}

TEST(TokenLoop, TheSegmentRunsFromTheStartTokenThroughTheFirstEndAndNamesItsLanguage)
{
    const auto tokenizer = makeSmallTokenizer();
    const auto& special = tokenizer->specialTokens();
    const SamplingResult finalized {{ids::startOfPrevious, ids::a, ids::sot, ids::de, ids::b, ids::end, ids::c, ids::end},
        {-9, -9, 0, -0.25f, -0.5f}, true};
    const auto segment = TokenLoop::segment(finalized, special);
    EXPECT_EQ(segment.tokens, (std::vector<int> {ids::sot, ids::de, ids::b, ids::end}));
    EXPECT_EQ(segment.logProbs, (std::vector<float> {0, -0.25f, -0.5f}));
    EXPECT_EQ(TokenLoop::segment({{ids::a, ids::b}, {-1, -2}, false}, special).tokens, (std::vector<int> {ids::a, ids::b}));

    const std::vector<std::map<int, float>> logProbs {{{ids::sot, 0}}, {{ids::de, -0.25f}}};
    const auto detected = TokenLoop::language(std::nullopt, segment.tokens, logProbs, *tokenizer);
    EXPECT_EQ(detected.code, "de");
    EXPECT_EQ(detected.probs, (std::map<std::string, float> {{"de", -0.25f}}));
    // A language token past the known log-probabilities counts 0.
    EXPECT_EQ(TokenLoop::language(std::nullopt, segment.tokens, {}, *tokenizer).probs,
        (std::map<std::string, float> {{"de", 0.0f}}));
}
