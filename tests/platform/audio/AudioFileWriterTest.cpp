#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/AudioFileOutput.hpp"
#include "platform/audio/AudioFileWriter.hpp"

#include "support/AudioFixtures.hpp"
#include "support/FullDiskOutput.hpp"
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

namespace {

// Writes `seconds` of a 700 Hz tone in capture-sized pieces; false once a write failed.
bool writeTone(AudioFileWriter& writer, int seconds)
{
    const auto tone = sine(700, 16000, 1600, 0.4f);
    for (int piece = 0; piece < seconds * 10; ++piece) {
        try {
            writer.write(makeBuffer(16000, {tone}));
        } catch (const AudioFileError&) {
            return false;
        }
    }
    return true;
}

double secondsIn(const std::filesystem::path& path)
{
    const AudioFile file(path);
    auto buffer = PCMBuffer::make(file.processingFormat(), static_cast<std::uint32_t>(file.length()));
    AudioFile reader(path);
    reader.read(*buffer, buffer->frameCapacity());
    EXPECT_EQ(strongestFrequency(channelSamples(*buffer), 16000, {350, 700, 1400}), 700);
    return static_cast<double>(file.length()) / 16000;
}

} // namespace

TEST(AudioFileWriter, AacFileCutOffWhileRecordingPlaysUpToItsLastSecond)
{
    TemporaryDirectory dir;
    const AudioFileSettings settings {FormatID::mpeg4AAC, 16000, 1, 32000};
    AudioFileWriter writer(dir / "recording.m4a", settings);
    ASSERT_TRUE(writeTone(writer, 5));
    // What a kill leaves on disk: the file as it is before the close.
    std::filesystem::copy_file(dir / "recording.m4a", dir / "killed.m4a");
    const double cut = secondsIn(dir / "killed.m4a");
    EXPECT_GE(cut, 3.9);
    EXPECT_LE(cut, 5.0);
    writer.close();
    EXPECT_NEAR(secondsIn(dir / "recording.m4a"), 5.0, 0.15);
}

TEST(AudioFileWriter, FullDiskKeepsTheWholeFragmentsAndLeavesNoEmptyFile)
{
    TemporaryDirectory dir;
    const AudioFileSettings settings {FormatID::mpeg4AAC, 16000, 1, 32000};
    // Not even the header fits: nothing is left.
    EXPECT_THAT([&] { AudioFileWriter(std::make_unique<FullDiskOutput>(dir / "none.m4a", 100), settings); },
        ::testing::ThrowsMessage<AudioFileError>(HasSubstr("No space left on device")));
    EXPECT_FALSE(std::filesystem::exists(dir / "none.m4a"));

    // The header fits, the first second does not: a bare header would hold no audio.
    {
        AudioFileWriter writer(std::make_unique<FullDiskOutput>(dir / "header.m4a", 1500), settings);
        EXPECT_FALSE(writeTone(writer, 3));
        EXPECT_TRUE(writer.failed());
        EXPECT_NO_THROW(writer.close());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "header.m4a"));

    // The disk fills after about two seconds: those stay playable, the torn fragment goes.
    AudioFileWriter writer(std::make_unique<FullDiskOutput>(dir / "full.m4a", 12'000), settings);
    EXPECT_FALSE(writeTone(writer, 10));
    EXPECT_THAT([&] { writer.write(makeBuffer(16000, {{0.1f}})); },
        ::testing::ThrowsMessage<AudioFileError>(HasSubstr("could not be written")));
    writer.close();
    EXPECT_LE(std::filesystem::file_size(dir / "full.m4a"), 12'000u);
    const double kept = secondsIn(dir / "full.m4a");
    EXPECT_GE(kept, 1.0);
    EXPECT_LT(kept, 4.0);
}

TEST(AudioFileWriter, ANewFileNeverReplacesOneAtItsNameUnlessAskedTo)
{
    TemporaryDirectory dir;
    const auto taken = dir / "taken.m4a";
    writeFile(taken, "mine");
    std::filesystem::create_symlink(taken, dir / "link.m4a");
    for (const char* name : {"taken.m4a", "link.m4a"}) {
        try {
            AudioFileOutput::create(dir / name);
            ADD_FAILURE() << name << " was opened";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::errc::file_exists) << name;
        }
    }
    EXPECT_EQ(readFile(taken), "mine");
    // A scratch file of the program's own is replaced when it asks.
    AudioFileOutput::create(taken, AudioFileOutput::Existing::replace);
    EXPECT_EQ(std::filesystem::file_size(taken), 0u);
    const auto fresh = AudioFileOutput::create(dir / "fresh.m4a");
    EXPECT_TRUE(std::filesystem::exists(dir / "fresh.m4a"));
}
