#include "Auris/Core/WhisperError.hpp"

#include "Auris/Text/DecoderFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

using namespace auris;
using namespace testsupport;

namespace {

void expectWhisperError(const std::function<void()>& action, WhisperError::Kind kind, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "expected " << message;
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_EQ(error.message(), message);
    }
}

DecodingOptions options(std::function<void(DecodingOptions&)> change = {})
{
    DecodingOptions result;
    if (change) change(result);
    return result;
}

ml::MultiArray halves(std::vector<int> shape, std::vector<int> strides = {})
{
    return strides.empty() ? ml::MultiArray(std::move(shape), ml::MultiArrayDataType::float16)
                           : ml::MultiArray(std::move(shape), ml::MultiArrayDataType::float16, std::move(strides));
}

} // namespace

TEST(TextDecoding, PreparesEmptyInputsSizedFromTheModel)
{
    DecoderFixture fixture;
    expectWhisperError([&] { fixture.decoder.prepareDecoderInputs({ids::sot}); },
        WhisperError::Kind::prepareDecoderInputsFailed, "Unable to determine kvCacheEmbedDim");

    fixture.script->alignment = true;
    fixture.load();
    EXPECT_TRUE(fixture.decoder.supportsWordTimestamps());

    const auto inputs = fixture.decoder.prepareDecoderInputs({ids::sot, ids::en});
    EXPECT_EQ(inputs.initialPrompt, (std::vector<int> {ids::sot, ids::en}));
    EXPECT_EQ(inputs.keyCache.shape(), (std::vector<int> {1, 2, 1, 16}));
    EXPECT_EQ(inputs.alignmentWeights.shape(), (std::vector<int> {16, 6}));
    EXPECT_EQ(inputs.decoderKeyPaddingMask.toFloats(), std::vector<float>(16, -10000.0f));
    EXPECT_EQ(inputs.kvCacheUpdateMask.toFloats(), std::vector<float>(16, 0.0f));
    EXPECT_EQ(inputs.cacheLength[0], 0.0);
    // Each call makes arrays of its own.
    EXPECT_NE(fixture.decoder.prepareDecoderInputs({}).keyCache.dataPointer(), inputs.keyCache.dataPointer());

    fixture.decoder.unloadModel();
    EXPECT_FALSE(fixture.decoder.model());
    EXPECT_FALSE(fixture.decoder.prefillData());
    EXPECT_FALSE(fixture.decoder.supportsWordTimestamps());
}

TEST(TextDecoding, ComposesThePromptFromOptions)
{
    DecoderFixture fixture;
    fixture.load(false);
    auto prompt = [&](const std::optional<DecodingOptions>& given) {
        return fixture.decoder.prefillDecoderInputs(fixture.decoder.prepareDecoderInputs({}), given).initialPrompt;
    };
    using V = std::vector<int>;
    EXPECT_EQ(prompt(std::nullopt), (V {ids::sot}));
    EXPECT_EQ(prompt(options()), (V {ids::sot, ids::en, ids::transcribe, ids::timeBegin}));
    EXPECT_EQ(prompt(options([](auto& o) { o.withoutTimestamps = true; })),
        (V {ids::sot, ids::en, ids::transcribe, ids::noTimestamps}));
    EXPECT_EQ(prompt(options([](auto& o) {
        o.language = "de";
        o.task = DecodingTask::translate;
    })),
        (V {ids::sot, ids::de, ids::translate, ids::timeBegin}));
    // A language the tokenizer does not know falls back to English.
    EXPECT_EQ(prompt(options([](auto& o) { o.language = "xx"; })), (V {ids::sot, ids::en, ids::transcribe, ids::timeBegin}));

    // Previous text: the last 111 tokens, special and negative ids dropped, after "start of previous".
    std::vector<int> previous(150, ids::b);
    previous[38] = ids::c;  // the 112th from the end: cut off
    previous[39] = ids::d;  // the 111th from the end: kept
    previous[100] = ids::sot;
    previous[101] = -3;
    const auto withPrevious = prompt(options([&](auto& o) {
        o.promptTokens = previous;
        o.withoutTimestamps = true;
    }));
    ASSERT_EQ(withPrevious.size(), 1u + 109u + 4u);
    EXPECT_EQ(withPrevious[0], ids::startOfPrevious);
    EXPECT_EQ(withPrevious[1], ids::d);
    EXPECT_EQ(V(withPrevious.end() - 4, withPrevious.end()), (V {ids::sot, ids::en, ids::transcribe, ids::noTimestamps}));

    // A prefix: the last 112 tokens, appended after the prompt.
    std::vector<int> prefix(120, ids::a);
    prefix[8] = ids::e;
    prefix[119] = ids::end;
    const auto withPrefix = prompt(options([&](auto& o) { o.prefixTokens = prefix; }));
    ASSERT_EQ(withPrefix.size(), 4u + 111u);
    EXPECT_EQ(withPrefix[4], ids::e);
    EXPECT_EQ(withPrefix.back(), ids::a);

    // An English-only model has no language or task token.
    fixture.decoder.setIsModelMultilingual(false);
    EXPECT_EQ(prompt(options([](auto& o) { o.withoutTimestamps = true; })), (V {ids::sot, ids::noTimestamps}));

    fixture.decoder.setTokenizer(nullptr);
    expectWhisperError([&] { prompt(options()); }, WhisperError::Kind::tokenizerUnavailable, "Tokenizer is unavailable");
}

TEST(TextDecoding, PrefillsTheCacheOnlyWithoutPreviousText)
{
    DecoderFixture fixture;
    fixture.load(true);
    auto inputs = fixture.decoder.prefillDecoderInputs(fixture.decoder.prepareDecoderInputs({}), options());
    EXPECT_EQ(inputs.cacheLength[0], 3.0);
    for (int row = 0; row < 2; ++row) {
        for (int p = 0; p < 16; ++p) {
            const double expected = p < 3 ? 1000 + 8 * row + p : 0;
            EXPECT_EQ(inputs.keyCache.value({0, row, 0, p}), expected) << row << "," << p;
            EXPECT_EQ(inputs.valueCache.value({0, row, 0, p}), -expected) << row << "," << p;
        }
    }
    EXPECT_EQ(inputs.prefillKeyCache.shape(), (std::vector<int> {1, 2, 1, 3}));

    fixture.decoder.prefillDecoderInputs(fixture.decoder.prepareDecoderInputs({}), options([](auto& o) {
        o.task = DecodingTask::translate;
        o.language = "sk";
    }));
    // English-only: task 0 and the English token.
    fixture.decoder.setIsModelMultilingual(false);
    fixture.decoder.prefillDecoderInputs(fixture.decoder.prepareDecoderInputs({}), options());
    EXPECT_EQ(fixture.prefillScript->calls,
        (std::vector<std::pair<int, int>> {{0, ids::en}, {1, ids::sk}, {0, ids::en}}));

    // Previous text (even none) or a switch turns the prefill off.
    auto noPrefill = [&](const DecodingOptions& given) {
        const auto result = fixture.decoder.prefillDecoderInputs(fixture.decoder.prepareDecoderInputs({}), given);
        EXPECT_EQ(result.cacheLength[0], 0.0);
    };
    noPrefill(options([](auto& o) { o.promptTokens = std::vector<int> {}; }));
    noPrefill(options([](auto& o) { o.usePrefillCache = false; }));
    EXPECT_EQ(fixture.prefillScript->calls.size(), 3u);

    // A prefill wrapper without a loaded model: the prompt is kept, the cache stays empty.
    testsupport::CapturedLog log(Logging::LogLevel::error);
    fixture.decoder.prefillData()->unloadModel();
    const auto unprefilled = fixture.decoder.prefillDecoderInputs(fixture.decoder.prepareDecoderInputs({}), options());
    EXPECT_EQ(unprefilled.initialPrompt.size(), 2u);
    EXPECT_EQ(unprefilled.cacheLength[0], 0.0);
    EXPECT_EQ(log.lines(), (std::vector<std::string> {"Unable to prefill cache"}));
}

TEST(TextDecoding, CopiesCachePositionsThroughEachArraysStrides)
{
    // A packed cache and a strided update of two positions with three rows.
    auto keyTensor = halves({1, 3, 1, 5});
    auto valueTensor = halves({1, 3, 1, 5}, {40, 1, 40, 3});
    auto keySlice = halves({1, 3, 1, 2}, {100, 10, 100, 2});
    auto valueSlice = halves({1, 3, 1, 2});
    for (int row = 0; row < 3; ++row) {
        for (int p = 0; p < 2; ++p) {
            keySlice.setValue({0, row, 0, p}, 10 * row + p + 1);
            valueSlice.setValue({0, row, 0, p}, -(10 * row + p + 1));
        }
    }
    TextDecoding::updateKVCache(keyTensor, keySlice, valueTensor, valueSlice, 3);
    for (int row = 0; row < 3; ++row) {
        for (int p = 0; p < 5; ++p) {
            const double expected = p >= 3 ? 10 * row + (p - 3) + 1 : 0;
            EXPECT_EQ(keyTensor.value({0, row, 0, p}), expected);
            EXPECT_EQ(valueTensor.value({0, row, 0, p}), -expected);
        }
    }

    // Updates that do not fit are refused before anything is written.
    const auto before = keyTensor.toFloats();
    auto refused = [&](const ml::MultiArray& key, const ml::MultiArray& value, int index) {
        EXPECT_THROW(TextDecoding::updateKVCache(keyTensor, key, valueTensor, value, index), WhisperError);
    };
    refused(keySlice, valueSlice, 4);
    refused(keySlice, valueSlice, -1);
    refused(halves({1, 2, 1, 2}), halves({1, 2, 1, 2}), 0);
    refused(keySlice, halves({1, 3, 1, 1}), 0);
    refused(halves({3, 2}), halves({3, 2}), 0);
    refused(ml::MultiArray({1, 3, 1, 2}, ml::MultiArrayDataType::float32), valueSlice, 0);
    EXPECT_EQ(keyTensor.toFloats(), before);
}
