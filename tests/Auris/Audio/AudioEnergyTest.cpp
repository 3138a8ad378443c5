#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/EnergyVAD.hpp"

#include "support/AudioFixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace auris;
using namespace testsupport;
using Range = AudioProcessor::SampleRange;

namespace {

std::vector<float> constant(std::size_t count, float value)
{
    return std::vector<float>(count, value);
}

} // namespace

TEST(AudioEnergy, LevelsAndRelativeLoudness)
{
    const std::vector<float> square {1, -1, 1, -1};
    EXPECT_FLOAT_EQ(AudioProcessor::calculateAverageEnergy(square), 1.0f);
    EXPECT_NEAR(AudioProcessor::calculateAverageEnergy(sine(100, 16000, 16000, 0.5f)), 0.5f / std::sqrt(2.0f), 1e-4f);
    const auto energy = AudioProcessor::calculateEnergy(std::vector<float> {0.5f, -0.75f, 0.25f, -0.1f});
    EXPECT_FLOAT_EQ(energy.max, 0.75f);
    EXPECT_FLOAT_EQ(energy.min, 0.1f);
    EXPECT_EQ(AudioProcessor::calculateAverageEnergy({}), 0.0f);

    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(constant(1600, 0.0f)), 0.0f);
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy({}), 0.0f);
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(square), 1.0f);
    // -30 dB lies half way between the -60 dB floor and full scale.
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(constant(100, std::pow(10.0f, -1.5f))), 0.5f, 1e-5f);
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(constant(100, 0.0001f)), 0.0f);
    // Against a reference: at it gives 0, half way to full scale in dB gives 0.5, louder than full scale clips.
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(constant(100, 0.01f), 0.01f), 0.0f, 1e-6f);
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(constant(100, 0.1f), 0.01f), 0.5f, 1e-5f);
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(constant(100, 2.0f), 0.01f), 1.0f);
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(constant(100, 0.0f), 0.0f), 0.0f);
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(constant(100, 0.5f), std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(AudioEnergy, FrameActivityUsesAStrictThresholdAndOverlap)
{
    // Frames of 4 samples: at the threshold, loud, silent, quiet, and a short loud last frame.
    const auto signal = concatenate({constant(4, 0.5f), constant(4, 0.75f), constant(4, 0.0f), constant(4, 0.25f), constant(2, 0.75f)});
    EXPECT_THAT(AudioProcessor::calculateVoiceActivityInChunks(signal, 5, 4, 0, 0.5f), ::testing::ElementsAre(false, true, false, false, true));
    EXPECT_THAT(AudioProcessor::calculateVoiceActivityInChunks(signal, 5, 4, 0, 0.3f), ::testing::ElementsAre(true, true, false, false, true));
    // With an overlap each frame also measures the next one's samples.
    EXPECT_THAT(AudioProcessor::calculateVoiceActivityInChunks(signal, 4, 4, 4, 0.3f), ::testing::ElementsAre(true, true, false, true));
    EXPECT_THAT(AudioProcessor::calculateVoiceActivityInChunks(signal, 7, 4, 0, 0.5f),
        ::testing::ElementsAre(false, true, false, false, true, false, false));
    EXPECT_TRUE(AudioProcessor::calculateVoiceActivityInChunks(signal, 0, 4, 0, 0.5f).empty());
    EXPECT_TRUE(AudioProcessor::calculateVoiceActivityInChunks(signal, -3, 4, 0, 0.5f).empty());

    const EnergyVAD vad;
    EXPECT_EQ(vad.sampleRate(), 16000);
    EXPECT_EQ(vad.frameLengthSamples(), 1600);
    EXPECT_EQ(vad.frameOverlapSamples(), 0);
    EXPECT_FLOAT_EQ(vad.energyThreshold(), 0.02f);
    EXPECT_THAT(vad.voiceActivityFrames(concatenate({constant(3200, 0.1f), constant(1600, 0.0f), constant(1, 0.1f)})),
        ::testing::ElementsAre(true, true, false, true));
    EXPECT_TRUE(vad.voiceActivityFrames({}).empty());
    EXPECT_EQ(EnergyVAD(8000, 0.05f, 0.01f, 0.1f).frameOverlapSamples(), 80);
    EXPECT_THROW(EnergyVAD(16000, 0.00001f), std::invalid_argument);
    EXPECT_THROW(EnergyVAD(16000, 0.1f, -0.1f), std::invalid_argument);
}

TEST(AudioEnergy, NonSilentRangesJoinNeighbouringVoicedFrames)
{
    const auto voiced = constant(1600, 0.1f);
    const auto silent = constant(1600, 0.0f);
    EXPECT_EQ(AudioProcessor::calculateNonSilentChunks(concatenate({voiced, silent, voiced})),
        (std::vector<Range> {{0, 1600}, {3200, 4800}}));
    EXPECT_EQ(AudioProcessor::calculateNonSilentChunks(concatenate({voiced, voiced, voiced})), (std::vector<Range> {{0, 4800}}));
    EXPECT_EQ(AudioProcessor::calculateNonSilentChunks(concatenate({silent, voiced, constant(100, 0.1f)})),
        (std::vector<Range> {{1600, 3300}}));
    EXPECT_TRUE(AudioProcessor::calculateNonSilentChunks({}).empty());
    EXPECT_TRUE(AudioProcessor::calculateNonSilentChunks(silent).empty());
}

TEST(AudioEnergy, RecentVoiceLeavesTheNewestSecondOut)
{
    std::vector<float> energies(30, 0.0f);
    energies[25] = 0.9f; // among the newest ten: ignored
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(energies, 3.0f, 0.3f));
    energies[19] = 0.31f;
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(energies, 3.0f, 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(energies, 3.0f, 0.31f));
    // With ten entries or fewer in view, all of them count.
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(energies, 1.0f, 0.5f));

    std::vector<float> few(15, 0.0f);
    few[12] = 0.9f;
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(few, 3.0f, 0.3f));
    few[9] = 0.9f;
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(few, 3.0f, 0.3f));

    EXPECT_FALSE(AudioProcessor::isVoiceDetected({}, 3.0f, 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(few, -2.0f, 0.3f));
    EXPECT_FALSE(AudioProcessor::isVoiceDetected(few, std::nanf(""), 0.3f));
    EXPECT_TRUE(AudioProcessor::isVoiceDetected(few, std::numeric_limits<float>::infinity(), 0.3f));
}
