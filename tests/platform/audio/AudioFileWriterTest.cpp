#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileWriter.hpp"

#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace platform;
using namespace testsupport;
using ::testing::HasSubstr;
using FormatID = AudioFileSettings::FormatID;

TEST(AudioFileWriter, AacRecordingKeepsTheSoundAcrossManyWrites)
{
    TemporaryDirectory dir;
    const auto tone = sine(700, 16000, 48'000, 0.4f);
    {
        AudioFileWriter writer(dir / "recording.m4a", {FormatID::mpeg4AAC, 16000, 1, 32000});
        EXPECT_EQ(writer.processingFormat(), (AudioFormat {16000, 1}));
        // Capture-sized pieces that do not line up with the encoder's frames.
        for (std::size_t offset = 0; offset < tone.size(); offset += 1600) {
            writer.write(makeBuffer(16000, {std::vector<float>(tone.begin() + static_cast<std::ptrdiff_t>(offset),
                                              tone.begin() + static_cast<std::ptrdiff_t>(offset + 1600))}));
        }
        // Closed by the destructor.
    }
    AudioFile file(dir / "recording.m4a");
    EXPECT_EQ(file.processingFormat(), (AudioFormat {16000, 1}));
    EXPECT_GE(file.length(), 48'000);
    EXPECT_LT(file.length(), 48'000 + 2048);
    auto buffer = PCMBuffer::make(file.processingFormat(), static_cast<std::uint32_t>(file.length()));
    file.read(*buffer, buffer->frameCapacity());
    const auto decoded = channelSamples(*buffer);
    const std::vector<float> middle(decoded.begin() + 8000, decoded.begin() + 40'000);
    EXPECT_EQ(strongestFrequency(middle, 16000, {350, 700, 1400}), 700);
    EXPECT_NEAR(*std::max_element(middle.begin(), middle.end()), 0.4f, 0.05f);
    // 32 kbit/s for 3 s is about 12 kB; an encoder ignoring the rate would write far more.
    EXPECT_LT(std::filesystem::file_size(dir / "recording.m4a"), 20'000u);
}

TEST(AudioFileWriter, RefusesMismatchedNamesSettingsAndBuffers)
{
    TemporaryDirectory dir;
    EXPECT_THAT([&] { AudioFileWriter(dir / "a.wav", {FormatID::mpeg4AAC, 16000, 1, {}}); },
        ::testing::ThrowsMessage<AudioFileError>(HasSubstr("WAV files hold linear PCM")));
    EXPECT_THROW(AudioFileWriter(dir / "a.m4a", {FormatID::linearPCM, 16000, 1, {}}), AudioFileError);
    EXPECT_THROW(AudioFileWriter(dir / "a.mp3", {FormatID::linearPCM, 16000, 1, {}}), AudioFileError);
    EXPECT_THROW(AudioFileWriter(dir / "a.wav", {FormatID::linearPCM, 0, 1, {}}), AudioFileError);
    EXPECT_THROW(AudioFileWriter(dir / "a.m4a", {FormatID::mpeg4AAC, 16000, 1, -5}), AudioFileError);
    EXPECT_THAT([&] { AudioFileWriter(dir / "missing" / "a.wav", {}); },
        ::testing::ThrowsMessage<AudioFileError>(HasSubstr("Cannot create audio file")));

    AudioFileWriter writer(dir / "b.WAV", {});
    EXPECT_THROW(writer.write(makeBuffer(44100, {{0.1f}})), AudioFileError);
    writer.write(makeBuffer(16000, {{0.25f, -0.5f}}));
    writer.close();
    writer.close();
    EXPECT_THROW(writer.write(makeBuffer(16000, {{0.1f}})), AudioFileError);
    AudioFile file(dir / "b.WAV");
    EXPECT_EQ(file.length(), 2);
}
