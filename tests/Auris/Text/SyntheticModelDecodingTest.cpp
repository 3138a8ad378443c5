#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Core/CancellationError.hpp"
#include "Auris/Sampling/GreedyTokenSampler.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/support/SyntheticWhisper.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <latch>
#include <stdexcept>
#include <thread>

using namespace auris;
using testsupport::SyntheticWhisper;

namespace {

struct Window {
    SyntheticWhisper::Pipeline pipeline;

    ml::MultiArray encode(const std::vector<float>& samples) const
    {
        const auto audio = AudioProcessing::padOrTrimAudio(samples, 0, AudioProcessing::windowSamples, false);
        const auto mel = pipeline.featureExtractor->logMelSpectrogram(*audio);
        if (!mel) throw std::runtime_error("no mel spectrogram");
        const auto embeds = pipeline.audioEncoder->encodeFeatures(*mel);
        if (!embeds) throw std::runtime_error("no encoder output");
        return *embeds;
    }

    // Inputs as the transcription task sets them up for its first window.
    DecodingInputs freshInputs(const DecodingOptions& options) const
    {
        auto& decoder = *pipeline.textDecoder;
        auto inputs = decoder.prefillDecoderInputs(
            decoder.prepareDecoderInputs({decoder.tokenizer()->specialTokens().startOfTranscriptToken}), options);
        const int cached = static_cast<int>(inputs.cacheLength[0]);
        inputs.kvCacheUpdateMask.setLinear(static_cast<std::size_t>(cached), 1);
        for (int i = 0; i <= cached; ++i) inputs.decoderKeyPaddingMask.setLinear(static_cast<std::size_t>(i), 0);
        return inputs;
    }

    DecodingResult decode(const ml::MultiArray& embeds, const DecodingInputs& inputs, const DecodingOptions& options,
        GreedyTokenSampler::RandomSource random = {}, TextDecoding::ProgressCallback callback = {},
        std::stop_token stopToken = {}) const
    {
        const auto special = pipeline.textDecoder->tokenizer()->specialTokens();
        GreedyTokenSampler sampler(options.temperature, special.endToken, options, std::move(random));
        return pipeline.textDecoder->decodeText(embeds, inputs, sampler, options, std::move(callback), stopToken);
    }
};

DecodingOptions englishOptions()
{
    DecodingOptions options;
    options.language = "en";
    // A random model is never sure of its first token; let every window run its loop.
    options.firstTokenLogProbThreshold.reset();
    return options;
}

std::vector<int> sampledTokens(const DecodingResult& result, std::size_t promptSize)
{
    // The tokens after the prompt, without the closing end token.
    return {result.tokens.begin() + static_cast<std::ptrdiff_t>(promptSize), result.tokens.end() - 1};
}

} // namespace

TEST(SyntheticModelDecoding, OneWindowDecodesThroughTheRealPrograms)
{
    const auto& models = SyntheticWhisper::shared();
    const Window window {models.load()};
    const auto& decoder = *window.pipeline.textDecoder;
    const auto& tokenizer = *models.tokenizer();
    const auto special = tokenizer.specialTokens();
    const int vocabulary = models.shape().vocabularySize;
    ASSERT_EQ(decoder.logitsSize(), vocabulary);
    ASSERT_EQ(special.timeTokenBegin + 1500, vocabulary - 1);
    ASSERT_TRUE(decoder.supportsWordTimestamps());
    for (int id = 0; id < vocabulary; ++id) {
        ASSERT_TRUE(tokenizer.convertIdToToken(id).has_value()) << "every id the model can write is a token: " << id;
    }
    EXPECT_EQ(tokenizer.allLanguageTokens().size(), 99u);

    const auto options = englishOptions();
    const auto embeds = window.encode(testsupport::generatedSoundscape(30));
    const auto inputs = window.freshInputs(options);
    const std::vector<int> prompt {special.startOfTranscriptToken, *tokenizer.convertTokenToId("<|en|>"),
        *tokenizer.convertTokenToId("<|transcribe|>"), special.timeTokenBegin};
    ASSERT_EQ(inputs.initialPrompt, prompt);

    const auto first = window.decode(embeds, inputs, options);
    ASSERT_GE(first.tokens.size(), prompt.size() + 1);
    EXPECT_TRUE(std::equal(prompt.begin(), prompt.end(), first.tokens.begin()));
    EXPECT_EQ(first.tokens.back(), special.endToken);
    const auto sampled = sampledTokens(first, prompt.size());
    // The loop stops at the end token or after the step cap (the prompt's last step samples too).
    EXPECT_LE(sampled.size(), static_cast<std::size_t>(TextDecoder::maxTokenCount - 3));
    EXPECT_FALSE(sampled.empty());
    for (int token : sampled) {
        ASSERT_GE(token, 0);
        ASSERT_LT(token, vocabulary);
        EXPECT_NE(token, special.endToken);
        EXPECT_NE(token, special.noTimestampsToken) << "the timestamp rule bans it";
    }
    EXPECT_EQ(first.language, "en");
    EXPECT_TRUE(std::isfinite(first.avgLogProb));
    EXPECT_LE(first.avgLogProb, 0);
    EXPECT_EQ(first.tokenLogProbs.size(), first.tokens.size());

    // The alignment heads' cross-attention, one averaged softmax row per decoded step.
    ASSERT_TRUE(first.cache && first.cache->alignmentWeights);
    const auto& alignment = *first.cache->alignmentWeights;
    ASSERT_EQ(alignment.shape(), (std::vector<int> {models.shape().cacheLength, models.shape().audioFrames()}));
    const auto steps = static_cast<int>(first.tokens.size()) - 1;
    for (int row = 1; row < steps; ++row) {
        double sum = 0;
        for (int column = 0; column < alignment.shape()[1]; ++column) sum += alignment.value({row, column});
        EXPECT_NEAR(sum, 1.0, 0.02) << "row " << row;
    }

    // Other windows in between, whose cross-attention state pushes this window's out; then the same
    // window again on the first run's arrays, reset as the task resets them between windows.
    const auto other
        = window.decode(window.encode(testsupport::generatedSoundscape(30, 99)), window.freshInputs(options), options);
    EXPECT_NE(other.tokens, first.tokens) << "the decoder follows the encoder output";
    window.decode(window.encode(testsupport::generatedSoundscape(30, 5)), window.freshInputs(options), options);
    auto reused = inputs;
    reused.reset(1, TextDecoder::maxTokenCount + 1);
    const auto again = window.decode(embeds, reused, options);
    EXPECT_EQ(again.tokens, first.tokens);
    EXPECT_EQ(again.text, first.text);

    // A lower token cap cuts the same run short.
    auto capped = options;
    capped.sampleLength = 10;
    const auto shortRun = window.decode(embeds, window.freshInputs(capped), capped);
    const auto shortSampled = sampledTokens(shortRun, prompt.size());
    ASSERT_EQ(shortSampled.size(), std::min<std::size_t>(sampled.size(), capped.sampleLength - 3));
    EXPECT_TRUE(std::equal(shortSampled.begin(), shortSampled.end(), sampled.begin()));

    // Top-k draws at temperature 1 from a seeded source stay within the vocabulary.
    auto warm = options;
    warm.temperature = 1;
    std::uint32_t state = 1;
    const auto drawn = window.decode(
        embeds, window.freshInputs(warm), warm, [&state] { return state = state * 1664525u + 1013904223u; });
    for (int token : drawn.tokens) {
        EXPECT_TRUE(token >= 0 && token < vocabulary) << token;
    }
    EXPECT_EQ(drawn.tokens.back(), special.endToken);
    EXPECT_FLOAT_EQ(drawn.temperature, 1);
}

TEST(SyntheticModelDecoding, LanguageDetectionPicksOneOfTheTokenizersLanguages)
{
    const auto& models = SyntheticWhisper::shared();
    const Window window {models.load()};
    auto& decoder = *window.pipeline.textDecoder;
    const auto embeds = window.encode(testsupport::generatedSoundscape(30));
    DecodingOptions options;
    GreedyTokenSampler sampler(0, models.tokenizer()->specialTokens().endToken, options);
    const auto detected = decoder.detectLanguage(embeds, window.freshInputs(options), sampler, options, 0);
    EXPECT_TRUE(Constants::languageCodes().contains(detected.language)) << detected.language;
    ASSERT_EQ(detected.languageProbs.size(), 1u);
    EXPECT_EQ(detected.languageProbs.begin()->first, detected.language);
    EXPECT_LE(detected.languageProbs.begin()->second, 0);
    // The same window gives the same answer.
    const auto again = decoder.detectLanguage(embeds, window.freshInputs(options), sampler, options, 0);
    EXPECT_EQ(again.language, detected.language);
}

// Windows decoded on threads of their own by one decoder take their steps together; each must come
// out as it does alone: a plain window, one with previous text in its prompt (no prefilled cache),
// one that the progress callback stops early while the others go on, and one cancelled mid-way.
TEST(SyntheticModelDecoding, WindowsOnSeveralThreadsDecodeAsTheyDoAlone)
{
    const auto& models = SyntheticWhisper::shared();
    const Window window {models.load()};
    const auto plain = englishOptions();
    auto withText = plain;
    withText.promptTokens = std::vector<int> {40, 41, 42, 43, 44};
    struct Case {
        unsigned audioSeed;
        DecodingOptions options;
        std::size_t stopAt = 0; // tokens at which the callback answers false
        std::size_t cancelAt = 0; // tokens at which the callback requests a stop
    };
    const std::vector<Case> cases {{7, plain}, {99, withText}, {5, plain, 12}, {31, plain, 0, 9}};
    std::vector<ml::MultiArray> embeds;
    for (const Case& c : cases) {
        embeds.push_back(window.encode(testsupport::generatedSoundscape(30, c.audioSeed)));
    }
    struct Outcome {
        std::optional<DecodingResult> result;
        bool cancelled = false;
    };
    const auto decodeCase = [&](std::size_t k) {
        const Case& c = cases[k];
        std::stop_source stop;
        const TextDecoding::ProgressCallback callback = [&](const TranscriptionProgress& progress) -> std::optional<bool> {
            if (c.cancelAt > 0 && progress.tokens.size() >= c.cancelAt) {
                stop.request_stop();
            }
            return c.stopAt == 0 || progress.tokens.size() < c.stopAt;
        };
        Outcome outcome;
        try {
            outcome.result = window.decode(embeds[k], window.freshInputs(c.options), c.options, {}, callback, stop.get_token());
        } catch (const CancellationError&) {
            outcome.cancelled = true;
        }
        return outcome;
    };

    std::vector<Outcome> alone;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        alone.push_back(decodeCase(k));
    }
    std::vector<Outcome> together(cases.size());
    {
        std::latch start(static_cast<std::ptrdiff_t>(cases.size()));
        std::vector<std::jthread> threads;
        for (std::size_t k = 0; k < cases.size(); ++k) {
            threads.emplace_back([&, k] {
                start.arrive_and_wait();
                together[k] = decodeCase(k);
            });
        }
    }

    EXPECT_TRUE(alone[3].cancelled && together[3].cancelled);
    for (std::size_t k = 0; k < 3; ++k) {
        ASSERT_TRUE(alone[k].result && together[k].result) << "window " << k;
        const DecodingResult& expected = *alone[k].result;
        const DecodingResult& actual = *together[k].result;
        EXPECT_EQ(actual.tokens, expected.tokens) << "window " << k;
        ASSERT_EQ(actual.tokenLogProbs.size(), expected.tokenLogProbs.size());
        for (std::size_t i = 0; i < expected.tokenLogProbs.size(); ++i) {
            const float logProb = expected.tokenLogProbs[i].begin()->second;
            EXPECT_NEAR(actual.tokenLogProbs[i].begin()->second, logProb, 2e-3f * std::max(1.0f, std::abs(logProb)))
                << "window " << k << " token " << i;
        }
        ASSERT_TRUE(actual.cache && expected.cache);
        const auto keys = actual.cache->keyCache->toFloats();
        const auto expectedKeys = expected.cache->keyCache->toFloats();
        ASSERT_EQ(keys.size(), expectedKeys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            ASSERT_NEAR(keys[i], expectedKeys[i], 2e-3f * std::max(1.0f, std::abs(expectedKeys[i]))) << "window " << k;
        }
    }
    EXPECT_LT(alone[2].result->tokens.size(), alone[0].result->tokens.size()) << "the early stop ends its window first";
}
