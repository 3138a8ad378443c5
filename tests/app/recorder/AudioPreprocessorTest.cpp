#include "app/recorder/AudioPreprocessor.hpp"

#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"

#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using parlino::AudioPreprocessor;
using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

struct Decoded {
    platform::AudioFormat format;
    std::vector<float> samples;
};

Decoded decode(const std::filesystem::path& path)
{
    platform::AudioFile file(path);
    auto buffer = platform::PCMBuffer::make(file.processingFormat(), static_cast<std::uint32_t>(file.length()));
    file.read(*buffer, static_cast<std::uint32_t>(file.length()));
    return {file.processingFormat(), testsupport::channelSamples(*buffer)};
}

float peakOf(const std::vector<float>& samples, std::size_t skip = 0)
{
    float peak = 0;
    for (std::size_t i = skip; i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(samples[i]));
    }
    return peak;
}

std::vector<float> mixed(const std::vector<float>& a, const std::vector<float>& b)
{
    std::vector<float> sum(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        sum[i] = a[i] + b[i];
    }
    return sum;
}

std::vector<std::string> filesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Lines {
    std::vector<std::string> lines;
    parlino::ConsoleLog log()
    {
        return [this](const std::string& line) { lines.push_back(line); };
    }
};

} // namespace

TEST(AudioPreprocessor, StereoWithRumbleBecomesSixteenKilohertzMonoAtThePeak)
{
    testsupport::TemporaryDirectory folder;
    const auto input = folder / "recording.wav";
    constexpr double rate = 48000;
    const std::size_t frames = 2 * 48000;
    // A 440 Hz voice over 20 Hz rumble on both channels.
    const auto tone = testsupport::sine(440, rate, frames, 0.2f);
    const auto rumble = testsupport::sine(20, rate, frames, 0.3f);
    const auto left = mixed(tone, rumble);
    testsupport::writeAudioFile(input, rate, {left, left});
    const auto scratch = folder / "scratch";
    std::filesystem::create_directories(scratch);

    Lines log;
    const auto output = AudioPreprocessor::preprocessAudio(input, true, true, true, scratch, log.log());
    ASSERT_TRUE(output);
    EXPECT_EQ(output->parent_path(), scratch);
    EXPECT_THAT(output->filename().string(), ::testing::MatchesRegex("preprocessed_[0-9A-F-]{36}\\.wav"));
    EXPECT_THAT(log.lines, Contains(HasSubstr("  ✅ Noise suppression applied (80Hz high-pass filter) in ")));
    EXPECT_THAT(log.lines, Contains("  • Resampling: ✅ (16kHz)"));
    EXPECT_THAT(log.lines, Contains(HasSubstr("  ✅ Converted: 96000 → 32000 frames in ")));

    const Decoded cleaned = decode(*output);
    EXPECT_EQ(cleaned.format, (platform::AudioFormat {16000, 1}));
    EXPECT_NEAR(static_cast<double>(cleaned.samples.size()), 32000, 2100);
    // The peak lands at -3 dBFS.
    EXPECT_NEAR(peakOf(cleaned.samples), 0.7079f, 0.01f);
    const double before = testsupport::tonePower(left, rate, 20) / testsupport::tonePower(left, rate, 440);
    const double after = testsupport::tonePower(cleaned.samples, 16000, 20) / testsupport::tonePower(cleaned.samples, 16000, 440);
    EXPECT_LT(after, before * 0.2) << "the rumble was not attenuated";

    // Read in blocks, it is what the whole recording in one piece gives.
    auto whole = testsupport::makeBuffer(rate, {left, left});
    ASSERT_GT(whole.frameLength(), AudioPreprocessor::blockFrames);
    AudioPreprocessor::applyHighPassFilter(whole, AudioPreprocessor::highPassCutoff);
    AudioPreprocessor::normalizeVolume(whole, AudioPreprocessor::normalizationTargetDB);
    auto converter = platform::AudioConverter::make(whole.format(), {16000, 1});
    auto converted = platform::PCMBuffer::make({16000, 1}, 32000);
    converter->convert(whole, *converted);
    converter->flush(*converted);
    const auto expected = testsupport::channelSamples(*converted);
    ASSERT_EQ(cleaned.samples.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(cleaned.samples[i], expected[i], 1e-6) << i;
    }
    EXPECT_THAT(log.lines, Contains(HasSubstr("  ✅ Loaded entire file: 96000 frames in ")));

    // The recording in memory gives the same file.
    Lines fromMemory;
    auto recording = testsupport::makeBuffer(rate, {left, left});
    const auto same = AudioPreprocessor::preprocessAudio(std::move(recording), true, true, true, scratch, fromMemory.log());
    ASSERT_TRUE(same);
    EXPECT_EQ(decode(*same).samples, cleaned.samples);

    // Without resampling the rate stays; the file is still one channel.
    Lines original;
    const auto kept = AudioPreprocessor::preprocessAudio(input, false, false, false, scratch, original.log());
    ASSERT_TRUE(kept);
    EXPECT_EQ(decode(*kept).format, (platform::AudioFormat {48000, 1}));
    EXPECT_THAT(original.lines, Contains("  • Resampling: ⏭️ (original)"));
    EXPECT_THAT(original.lines, Not(Contains(HasSubstr("Noise suppression"))));
}

TEST(AudioPreprocessor, SilenceIsNotRaisedAndFailuresLeaveNothing)
{
    testsupport::TemporaryDirectory folder;
    const auto silence = folder / "silence.wav";
    testsupport::writeAudioFile(silence, 16000, {testsupport::noise(16000, 0.0005f)});
    Lines log;
    const auto output = AudioPreprocessor::preprocessAudio(silence, true, true, true, folder.path(), log.log());
    ASSERT_TRUE(output);
    EXPECT_LE(peakOf(decode(*output).samples), 0.002f);
    std::filesystem::remove(*output);

    Lines failure;
    EXPECT_FALSE(AudioPreprocessor::preprocessAudio(folder / "missing.m4a", true, true, true, folder.path(), failure.log()));
    EXPECT_THAT(failure.lines, Contains(HasSubstr("  ❌ Preprocessing error: ")));
    // An output folder that cannot take the file: the half-made output goes too.
    testsupport::writeFile(folder / "not-a-folder", "");
    EXPECT_FALSE(AudioPreprocessor::preprocessAudio(silence, true, true, true, folder / "not-a-folder", failure.log()));
    EXPECT_EQ(filesIn(folder.path()), (std::vector<std::string> {"not-a-folder", "silence.wav"}))
        << "a temporary file was left behind";
}

TEST(AudioPreprocessor, FiltersWorkInPlaceOnEveryChannel)
{
    // A step through the high-pass: the second sample is alpha.
    auto step = testsupport::makeBuffer(16000, {std::vector<float>(4, 1.0f), std::vector<float>(4, 1.0f)});
    AudioPreprocessor::applyHighPassFilter(step, 80);
    EXPECT_FLOAT_EQ(step.channel(0)[0], 1.0f);
    EXPECT_NEAR(step.channel(0)[1], 0.96954f, 1e-5);
    EXPECT_NEAR(step.channel(1)[1], 0.96954f, 1e-5);
    auto fast = testsupport::makeBuffer(48000, {std::vector<float>(2, 1.0f)});
    AudioPreprocessor::applyHighPassFilter(fast, 80);
    EXPECT_NEAR(fast.channel(0)[1], 0.98964f, 1e-5);

    // Normalised by the louder channel; loud audio is lowered as well.
    auto quiet = testsupport::makeBuffer(16000, {{0.25f, -0.5f}, {0.1f, 0.2f}});
    AudioPreprocessor::normalizeVolume(quiet, -3);
    EXPECT_NEAR(quiet.channel(0)[1], -0.70794576f, 1e-6);
    EXPECT_NEAR(quiet.channel(1)[1], 0.28317830f, 1e-6);
    auto loud = testsupport::makeBuffer(16000, {{2.0f, 1.0f}});
    AudioPreprocessor::normalizeVolume(loud, -3);
    EXPECT_NEAR(loud.channel(0)[0], 0.70794576f, 1e-6);
    auto silent = testsupport::makeBuffer(16000, {{0.001f, -0.0005f}});
    AudioPreprocessor::normalizeVolume(silent, -3);
    EXPECT_FLOAT_EQ(silent.channel(0)[0], 0.001f);
}
