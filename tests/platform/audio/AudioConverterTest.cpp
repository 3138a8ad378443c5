#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFileError.hpp"

#include "support/AudioFixtures.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform;
using namespace testsupport;

namespace {

const AudioFormat cd {44100, 2};
const AudioFormat engine {16000, 1};

// Converts the channels fed in blocks of the given sizes (cycled), then flushes.
std::vector<float> convertInBlocks(AudioConverter& converter, const std::vector<std::vector<float>>& channels,
    const std::vector<std::size_t>& blockSizes, std::uint32_t outputCapacity)
{
    auto output = PCMBuffer::make(converter.outputFormat(), outputCapacity);
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < channels.front().size(); ++i) {
        const std::size_t count = std::min(blockSizes[i % blockSizes.size()], channels.front().size() - offset);
        std::vector<std::vector<float>> block;
        for (const auto& channel : channels) {
            block.emplace_back(channel.begin() + static_cast<std::ptrdiff_t>(offset),
                channel.begin() + static_cast<std::ptrdiff_t>(offset + count));
        }
        converter.convert(makeBuffer(converter.inputFormat().sampleRate, block), *output);
        offset += count;
    }
    converter.flush(*output);
    return channelSamples(*output);
}

} // namespace

TEST(AudioConverter, BlockwiseConversionIsSeamlessAndKeepsTheTone)
{
    const std::size_t frames = 441'000;
    const auto tone = sine(1000, 44100, frames);
    const std::vector<std::vector<float>> stereo {tone, tone};
    const std::uint32_t expected = 160'000;

    auto whole = AudioConverter::make(cd, engine);
    ASSERT_TRUE(whole);
    const auto reference = convertInBlocks(*whole, stereo, {frames}, expected + 100);
    EXPECT_NEAR(static_cast<double>(reference.size()), expected, 2);

    auto blockwise = AudioConverter::make(cd, engine);
    const auto blocks = convertInBlocks(*blockwise, stereo, {1, 4410, 99'999, 7}, expected + 100);
    ASSERT_EQ(blocks.size(), reference.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_NEAR(blocks[i], reference[i], 1e-6f) << "sample " << i;
    }

    // The tone survives at its level and frequency, and neighbouring samples never repeat.
    const std::vector<float> middle(reference.begin() + 1000, reference.end() - 1000);
    EXPECT_EQ(strongestFrequency(middle, 16000, {500, 1000, 2000, 3000}), 1000);
    EXPECT_NEAR(*std::max_element(middle.begin(), middle.end()), 0.5f, 0.01f);
    for (std::size_t i = 1; i < middle.size(); ++i) {
        ASSERT_NE(middle[i], middle[i - 1]) << "sample " << i;
    }
}

TEST(AudioConverter, ChannelsAreAveragedOrCopied)
{
    const auto tone = sine(440, 16000, 16000);
    const std::vector<float> silence(tone.size(), 0.0f);
    auto down = AudioConverter::make({16000, 2}, engine);
    const auto mixed = convertInBlocks(*down, {tone, silence}, {4000}, 20000);
    ASSERT_EQ(mixed.size(), tone.size());
    for (std::size_t i = 0; i < tone.size(); ++i) {
        ASSERT_NEAR(mixed[i], 0.5f * tone[i], 1e-6f);
    }

    auto up = AudioConverter::make(engine, {16000, 2});
    auto output = PCMBuffer::make({16000, 2}, 20000);
    up->convert(makeBuffer(16000, {tone}), *output);
    up->flush(*output);
    EXPECT_EQ(channelSamples(*output, 0), tone);
    EXPECT_EQ(channelSamples(*output, 1), tone);
}

TEST(AudioConverter, RefusesBadFormatsAndKeepsWhatDoesNotFit)
{
    EXPECT_FALSE(AudioConverter::make({0, 1}, engine));
    EXPECT_FALSE(AudioConverter::make(engine, {16000, 0}));
    EXPECT_FALSE(AudioConverter::make({44100.5, 1}, engine));

    auto converter = AudioConverter::make(engine, engine);
    auto output = PCMBuffer::make(engine, 10);
    EXPECT_THROW(converter->convert(makeBuffer(8000, {std::vector<float>(5)}), *output), AudioFileError);

    // Frames beyond the output's room stay inside and come out on the next call.
    const auto ramp = [] {
        std::vector<float> v(25);
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<float>(i) / 100.0f;
        }
        return v;
    }();
    EXPECT_EQ(converter->convert(makeBuffer(16000, {ramp}), *output), 10u);
    std::vector<float> collected = channelSamples(*output);
    output->setFrameLength(0);
    converter->flush(*output);
    const auto rest = channelSamples(*output);
    collected.insert(collected.end(), rest.begin(), rest.end());
    output->setFrameLength(0);
    converter->flush(*output);
    const auto last = channelSamples(*output);
    collected.insert(collected.end(), last.begin(), last.end());
    EXPECT_EQ(collected, ramp);
}
