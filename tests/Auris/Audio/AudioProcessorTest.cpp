#include "Auris/Audio/AudioBufferUtilities.hpp"
#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Core/WhisperError.hpp"

#include "Auris/Audio/LogCapture.hpp"
#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace auris;
using namespace testsupport;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string loadError(const std::string& path, std::optional<double> start = {}, std::optional<double> end = {})
{
    try {
        AudioProcessor::loadAudio(path, start, end);
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::loadAudioFailed);
        return error.what();
    }
    return "loaded";
}

std::vector<float> load(const std::string& path, std::optional<double> start = {}, std::optional<double> end = {})
{
    auto buffer = AudioProcessor::loadAudio(path, start, end);
    EXPECT_EQ(buffer.format(), (platform::AudioFormat {16000, 1}));
    return AudioProcessor::convertBufferToArray(buffer, 1024);
}

std::vector<float> slice(const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    return {samples.begin() + static_cast<std::ptrdiff_t>(from), samples.begin() + static_cast<std::ptrdiff_t>(to)};
}

} // namespace

TEST(AudioProcessor, EngineRateFileLoadsUnchangedAndRangesCutExactFrames)
{
    TemporaryDirectory dir;
    const auto samples = noise(16000 * 12 + 7, 0.8f, 3);
    writeAudioFile(dir / "mono.wav", 16000, {samples});
    const std::string path = (dir / "mono.wav").string();

    LogCapture log;
    EXPECT_EQ(load(path), samples);
    EXPECT_TRUE(log.startingWith("Resampling ").empty());
    EXPECT_THAT(log.startingWith("Audio source details"),
        ElementsAre("Audio source details - Sample Rate: 16000.0 Hz, Channel Count: 1, Frame Length: 192007, Duration: 12.0004375s"));
    EXPECT_THAT(log.startingWith("After loadAudio function - Memory usage: "), ::testing::SizeIs(1));

    EXPECT_EQ(AudioProcessor::loadAudioSamples(path), samples);
    EXPECT_EQ(load(path, 2.5, 3.0), slice(samples, 40'000, 48'000));
    EXPECT_EQ(load(path, 11.0, 99.0), slice(samples, 176'000, samples.size()));
    EXPECT_EQ(load(path, {}, 0.5), slice(samples, 0, 8000));
    EXPECT_TRUE(load(path, 12.0004375).empty());

    EXPECT_THAT(loadError(path, 13.0), HasSubstr("lies after the end"));
    EXPECT_THAT(loadError(path, 3.0, 2.0), HasSubstr("lies before start time"));
    EXPECT_THAT(loadError(path, -1.0), HasSubstr("Invalid start time"));
    EXPECT_THAT(loadError(path, {}, std::nan("")), HasSubstr("Invalid end time"));
}

TEST(AudioProcessor, ForeignRateFileIsResampledInBlocks)
{
    TemporaryDirectory dir;
    // 35 s at 44.1 kHz, a different tone in each stretch, speech-like level differences per channel.
    const auto tones = concatenate({sine(500, 44100, 441'000), sine(1000, 44100, 441'000), sine(2000, 44100, 661'500)});
    std::vector<float> quiet(tones.size());
    std::transform(tones.begin(), tones.end(), quiet.begin(), [](float x) { return 0.5f * x; });
    writeAudioFile(dir / "stereo.wav", 44100, {tones, quiet});
    const std::string path = (dir / "stereo.wav").string();

    LogCapture log;
    const auto all = load(path);
    EXPECT_NEAR(static_cast<double>(all.size()), 1'543'500.0 * 16000 / 44100, 2);
    EXPECT_THAT(log.startingWith("Resampling "),
        ElementsAre("Resampling 35.00 seconds of audio", "Resampling 0.00s - 30.00s", "Resampling 30.00s - 35.00s"));
    EXPECT_THAT(log.startingWith("Audio buffer details"),
        ElementsAre(::testing::StartsWith("Audio buffer details - Sample Rate: 16000.0 Hz, Channel Count: 1, Frame Length: ")));
    // Channels are averaged: 0.75 of the louder one's level.
    const auto middle = slice(all, 176'000, 304'000);
    EXPECT_NEAR(*std::max_element(middle.begin(), middle.end()), 0.375f, 0.01f);
    EXPECT_EQ(strongestFrequency(middle, 16000, {500, 1000, 2000}), 1000);
    // Across the block boundary at 30 s the tone runs on without a jump.
    for (std::size_t i = 479'000; i < 481'000; ++i) {
        ASSERT_LT(std::fabs(all[i] - all[i - 1]), 0.375f * 2 * 3.1416f * 2000 / 16000 * 1.05f) << i;
    }

    // 10 s to 20 s reads exactly 441000 input frames and gives 160000 frames of the middle tone.
    const auto range = load(path, 10.0, 20.0);
    EXPECT_EQ(range.size(), 160'000u);
    EXPECT_EQ(strongestFrequency(range, 16000, {500, 1000, 2000}), 1000);
}

TEST(AudioProcessor, BadPathsFailAloneInABatch)
{
    TemporaryDirectory dir;
    writeAudioFile(dir / "a.wav", 16000, {sine(300, 16000, 8000)});
    writeAudioFile(dir / "c.m4a", 22050, {sine(300, 22050, 22050)});
    std::ofstream(dir / "broken.wav") << "RIFF....WAVEfmt garbage";

    EXPECT_EQ(loadError((dir / "missing.wav").string()), "Resource path does not exist " + (dir / "missing.wav").string());
    EXPECT_THAT(loadError((dir / "broken.wav").string()), HasSubstr("broken.wav"));

    const std::vector<std::string> paths {(dir / "a.wav").string(), (dir / "broken.wav").string(), (dir / "c.m4a").string(),
        (dir / "missing.wav").string()};
    const auto results = AudioProcessor::loadAudio(paths);
    ASSERT_EQ(results.size(), 4u);
    ASSERT_TRUE(std::holds_alternative<std::vector<float>>(results[0]));
    EXPECT_EQ(std::get<std::vector<float>>(results[0]), load(paths[0]));
    ASSERT_TRUE(std::holds_alternative<std::exception_ptr>(results[1]));
    EXPECT_THROW(std::rethrow_exception(std::get<std::exception_ptr>(results[1])), WhisperError);
    ASSERT_TRUE(std::holds_alternative<std::vector<float>>(results[2]));
    // A fragmented AAC file also holds the encoder's priming and padding frames.
    EXPECT_NEAR(static_cast<double>(std::get<std::vector<float>>(results[2]).size()), 16000, 2048);
    EXPECT_TRUE(std::holds_alternative<std::exception_ptr>(results[3]));
    EXPECT_TRUE(AudioProcessor::loadAudio(std::vector<std::string> {}).empty());

    EXPECT_EQ(AudioProcessor::convertBufferToArray(*std::make_unique<platform::PCMBuffer>(AudioProcessor::loadAudioAsync(paths[0]).get())),
        load(paths[0]));
}

TEST(AudioProcessor, ConvertsBuffersAndFlattensChannelZero)
{
    auto buffer = makeBuffer(16000, {{1, 2, 3, 4, 5, 6, 7}, {9, 9, 9, 9, 9, 9, 9}});
    EXPECT_EQ(AudioProcessor::convertBufferToArray(buffer, 3), (std::vector<float> {1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(channelSamples(buffer, 0), std::vector<float>(7, 0.0f));
    EXPECT_EQ(channelSamples(buffer, 1), std::vector<float>(7, 9.0f));
    auto again = makeBuffer(16000, {{1, 2}});
    EXPECT_EQ(AudioProcessor::convertBufferToArray(again, 0), (std::vector<float> {1, 2}));

    const auto tone = makeBuffer(48000, {sine(440, 48000, 48'000)});
    const auto converted = AudioProcessor::resampleAudio(tone, 16000, 1);
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->frameLength(), 16'000u);
    EXPECT_EQ(strongestFrequency(channelSamples(*converted), 16000, {220, 440, 880}), 440);

    // Fed capture-sized buffers, one converter keeps up instead of holding back more and more.
    auto converter = platform::AudioConverter::make({44100, 1}, {16000, 1});
    const auto piece = makeBuffer(44100, {sine(440, 44100, 1600)});
    std::size_t produced = 0;
    for (int i = 0; i < 1000; ++i) {
        produced += AudioProcessor::resampleBuffer(piece, *converter).frameLength();
    }
    EXPECT_GT(static_cast<double>(produced), 1000 * 1600 * 16000.0 / 44100 - 64);

    LogCapture log;
    EXPECT_FALSE(AudioProcessor::resampleAudio(tone, -1, 1));
    EXPECT_THAT(log.lines(), ElementsAre("Failed to create output audio format"));
}

TEST(AudioProcessor, WindowsArePaddedOrTrimmedAndCanBeSaved)
{
    const auto samples = noise(600'000, 0.5f);
    auto values = [](const ml::MultiArray& array) { return array.toFloats(); };

    auto shortWindow = AudioProcessing::padOrTrimAudio(slice(samples, 0, 100));
    ASSERT_TRUE(shortWindow);
    EXPECT_EQ(shortWindow->shape(), (std::vector<int> {480'000}));
    EXPECT_EQ(shortWindow->dataType(), ml::MultiArrayDataType::float32);
    const auto shortValues = values(*shortWindow);
    EXPECT_EQ(slice(shortValues, 0, 100), slice(samples, 0, 100));
    EXPECT_TRUE(std::all_of(shortValues.begin() + 100, shortValues.end(), [](float x) { return x == 0; }));

    EXPECT_EQ(values(*AudioProcessing::padOrTrimAudio(samples)), slice(samples, 0, 480'000));
    EXPECT_EQ(values(*AudioProcessing::padOrTrimAudio(samples, 599'990, 20)),
        concatenate({slice(samples, 599'990, 600'000), std::vector<float>(10, 0.0f)}));
    EXPECT_EQ(values(*AudioProcessing::padOrTrimAudio({}, 0, 5)), std::vector<float>(5, 0.0f));
    EXPECT_EQ(values(*AudioProcessing::padOrTrimAudio(samples, 600'000, 5)), std::vector<float>(5, 0.0f));
    EXPECT_FALSE(AudioProcessing::padOrTrimAudio(samples, -1, 5));
    EXPECT_FALSE(AudioProcessing::padOrTrimAudio(samples, 0, -5));

    TemporaryDirectory dir;
    ScopedEnvironment downloads("XDG_DOWNLOAD_DIR", dir.path().string());
    LogCapture log;
    auto saved = AudioProcessing::padOrTrimAudio(samples, 480'000, 480'000, true);
    const auto file = dir / "AurisSegments" / "segment_30.0.wav";
    EXPECT_THAT(log.lines(), ElementsAre("Saved audio segment to " + file.string()));
    EXPECT_EQ(load(file.string()), values(*saved));

    // A failed save is only logged: here the folder's place is taken by a file.
    ScopedEnvironment blocked("XDG_DOWNLOAD_DIR", (dir / "AurisSegments" / "segment_30.0.wav").string());
    EXPECT_TRUE(AudioProcessing::padOrTrimAudio(samples, 0, 10, true));
    EXPECT_THAT(log.lines().back(), HasSubstr("Could not save file: "));
}

TEST(AudioProcessor, WaveformImageShowsTheSamplesBytesAsPixels)
{
    // One sample per pixel, row after row; samples past the image are left out.
    const std::vector<float> samples {1.0f, -2.0f, 0.5f, 0.0f, 7.0f};
    const WaveformImage image = AudioProcessing::createWaveformImage(samples, {.width = 2, .height = 2});
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.bytesPerRow, 8);
    ASSERT_EQ(image.bytes.size(), 16u);
    // The little-endian float 1.0 is 00 00 80 3f: blue, green, red, then the exponent byte as alpha.
    EXPECT_THAT(std::vector<std::uint8_t>(image.bytes.begin(), image.bytes.begin() + 4), ElementsAre(0x00, 0x00, 0x80, 0x3f));
    EXPECT_EQ(image.pixel(0, 0), 0x3f800000u);
    EXPECT_EQ(image.pixel(1, 0), 0xc0000000u);
    EXPECT_EQ(image.pixel(0, 1), 0x3f000000u);
    EXPECT_EQ(image.pixel(1, 1), 0u);

    auto failure = [&](WaveformImage::Size size) -> std::string {
        try {
            AudioProcessing::createWaveformImage(samples, size);
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.kind(), WhisperError::Kind::audioProcessingFailed);
            return error.what();
        }
        return "made";
    };
    EXPECT_EQ(failure({.width = 3, .height = 2}), "A waveform image of 3 x 2 pixels needs 6 samples, not 5");
    EXPECT_EQ(failure({.width = 0, .height = 2}), "A waveform image of 0 x 2 pixels has no pixels");
    EXPECT_EQ(failure({.width = 2, .height = -1}), "A waveform image of 2 x -1 pixels has no pixels");
}

TEST(AudioBufferUtilities, AppendChecksFormatsRangesAndRoom)
{
    auto destination = *platform::PCMBuffer::make({16000, 2}, 5);
    const auto source = makeBuffer(16000, {{1, 2, 3, 4}, {5, 6, 7, 8}});
    LogCapture log;
    EXPECT_TRUE(appendBufferContents(destination, source, 1, 2));
    EXPECT_TRUE(appendBufferContents(destination, source, 4, 0));
    EXPECT_EQ(channelSamples(destination, 0), (std::vector<float> {2, 3}));
    EXPECT_EQ(channelSamples(destination, 1), (std::vector<float> {6, 7}));

    EXPECT_FALSE(appendBufferContents(destination, makeBuffer(8000, {{1}, {1}}), 0, 1));
    EXPECT_FALSE(appendBufferContents(destination, source, 3, 2));
    EXPECT_FALSE(appendBufferContents(destination, source, 0, 4));
    EXPECT_FALSE(appendBufferContents(destination, source, 0xFFFFFFFFu, 2));
    EXPECT_THAT(log.lines(), ElementsAre("Format mismatch", "Insufficient audio in buffer", "Insufficient space in buffer",
                                 "Insufficient audio in buffer"));
    EXPECT_EQ(destination.frameLength(), 2u);

    TemporaryDirectory dir;
    const auto nested = dir / "a" / "b" / "c.wav";
    writeFileCreatingDirectories(source, nested);
    EXPECT_EQ(platform::AudioFile(nested).length(), 4);
    EXPECT_THROW(writeFileCreatingDirectories(source, nested / "x" / "d.wav"), std::filesystem::filesystem_error);
}

TEST(AudioProcessor, SamplesLoadedStraightIntoAnArrayMatchTheBufferRoad)
{
    TemporaryDirectory dir;
    const auto tones = concatenate({sine(500, 44100, 441'000), sine(1500, 44100, 1'000'003)});
    writeAudioFile(dir / "stereo.wav", 44100, {tones, noise(tones.size(), 0.2f, 9)});
    writeAudioFile(dir / "voice.m4a", 22050, {sine(300, 22050, 22050 * 40)});
    for (const auto& file : {dir / "stereo.wav", dir / "voice.m4a"}) {
        const std::string path = file.string();
        EXPECT_EQ(AudioProcessor::loadAudioSamples(path), load(path)) << path;
        EXPECT_EQ(AudioProcessor::loadAudioSamples(path, 3.25, 33.5), load(path, 3.25, 33.5)) << path;
    }
    EXPECT_THROW(AudioProcessor::loadAudioSamples((dir / "missing.wav").string()), WhisperError);
    EXPECT_THROW(AudioProcessor::loadAudioSamples((dir / "stereo.wav").string(), 99.0), WhisperError);
}
