#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/MP4Duration.hpp"

#include "platform/audio/LibraryEncoder.hpp"
#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace platform;
using namespace testsupport;
using ::testing::HasSubstr;

namespace {

// Every frame of the file, read in blocks of `blockFrames`.
std::vector<std::vector<float>> readAll(AudioFile& file, std::uint32_t blockFrames)
{
    auto block = PCMBuffer::make(file.processingFormat(), blockFrames);
    std::vector<std::vector<float>> channels(static_cast<std::size_t>(file.processingFormat().channelCount));
    for (;;) {
        file.read(*block, blockFrames);
        if (block->frameLength() == 0) {
            return channels;
        }
        for (int c = 0; c < file.processingFormat().channelCount; ++c) {
            const auto samples = block->channel(c);
            channels[static_cast<std::size_t>(c)].insert(channels[static_cast<std::size_t>(c)].end(), samples.begin(), samples.end());
        }
    }
}

std::vector<float> readAt(AudioFile& file, std::int64_t position, std::uint32_t frames)
{
    auto buffer = PCMBuffer::make(file.processingFormat(), frames);
    file.setFramePosition(position);
    file.read(*buffer, frames);
    return channelSamples(*buffer);
}

std::string openError(const std::filesystem::path& path)
{
    try {
        AudioFile file(path);
        readAll(file, 4096);
    } catch (const AudioFileError& error) {
        return error.what();
    }
    return "no error";
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes, std::size_t keep = std::string::npos)
{
    std::ofstream(path, std::ios::binary) << bytes.substr(0, keep);
}

std::string readBytes(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

} // namespace

TEST(AudioFile, FloatWavReadsBackExactlyFromAnyPosition)
{
    TemporaryDirectory dir;
    const auto left = noise(50'000, 0.9f, 7);
    const auto right = sine(440, 16000, 50'000);
    writeAudioFile(dir / "stereo.wav", 16000, {left, right});

    AudioFile file(dir / "stereo.wav");
    EXPECT_EQ(file.processingFormat(), (AudioFormat {16000, 2}));
    EXPECT_EQ(file.length(), 50'000);
    const auto all = readAll(file, 3000);
    EXPECT_EQ(all[0], left);
    EXPECT_EQ(all[1], right);
    EXPECT_EQ(file.framePosition(), 50'000);

    // Backwards, forwards, then past the end.
    EXPECT_EQ(readAt(file, 12'345, 100), std::vector<float>(left.begin() + 12'345, left.begin() + 12'445));
    EXPECT_EQ(readAt(file, 2, 10), std::vector<float>(left.begin() + 2, left.begin() + 12));
    EXPECT_EQ(readAt(file, 49'990, 100), std::vector<float>(left.end() - 10, left.end()));
    EXPECT_TRUE(readAt(file, 60'000, 100).empty());
    EXPECT_THROW(file.setFramePosition(-1), std::out_of_range);

    auto small = PCMBuffer::make(file.processingFormat(), 10);
    file.setFramePosition(0);
    EXPECT_THAT([&] { file.read(*small, 11); }, ::testing::ThrowsMessage<AudioFileError>(HasSubstr("cannot hold")));
    auto mono = PCMBuffer::make({16000, 1}, 10);
    EXPECT_THAT([&] { file.read(*mono, 10); }, ::testing::ThrowsMessage<AudioFileError>(HasSubstr("format does not match")));
}

TEST(AudioFile, ReadsCommonFormatsWithExactLengthAndPosition)
{
    TemporaryDirectory dir;
    const int rate = 48000;
    const std::size_t frames = 100'000;
    const auto left = sine(1000, rate, frames);
    const auto right = sine(3000, rate, frames, 0.3f);
    writeAudioFile(dir / "source.wav", rate, {left, right});

    std::vector<std::filesystem::path> files {dir / "source.wav"};
    writeAudioFile(dir / "aac.m4a", rate, {left, right});
    files.push_back(dir / "aac.m4a");
    if (encodeWithLibrary(dir / "lame.mp3", "mp3", "libmp3lame", rate, {left, right})) {
        files.push_back(dir / "lame.mp3");
    }
    if (encodeWithLibrary(dir / "speech.opus", "ogg", "libopus", rate, {left, right})) {
        files.push_back(dir / "speech.opus");
    }
    if (commandExists("sox")) {
        for (const char* name : {"s16.wav", "u8.wav", "lossless.flac", "vorbis.ogg"}) {
            const std::string bits = std::string(name) == "u8.wav" ? "-b 8 -e unsigned-integer " : "";
            const std::string command = "sox -V1 '" + (dir / "source.wav").string() + "' " + bits + "'" + (dir / name).string() + "'";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            files.push_back(dir / name);
        }
    } else {
        std::cout << "sox is missing: FLAC, Ogg Vorbis and integer WAV reading is not checked\n";
    }

    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        AudioFile file(path);
        EXPECT_EQ(file.processingFormat(), (AudioFormat {double(rate), 2}));
        // Lossy codecs may pad the end up to one of their frames.
        EXPECT_GE(file.length(), static_cast<std::int64_t>(frames) - 1);
        EXPECT_LE(file.length(), static_cast<std::int64_t>(frames) + 2048);

        const auto all = readAll(file, 7000);
        ASSERT_EQ(static_cast<std::int64_t>(all[0].size()), file.length());
        const std::vector<float> middleLeft(all[0].begin() + 20'000, all[0].begin() + 60'000);
        const std::vector<float> middleRight(all[1].begin() + 20'000, all[1].begin() + 60'000);
        EXPECT_EQ(strongestFrequency(middleLeft, rate, {1000, 3000}), 1000);
        EXPECT_EQ(strongestFrequency(middleRight, rate, {1000, 3000}), 3000);
        // Decoding starts over for a backward position, so the frames match a straight read.
        EXPECT_EQ(readAt(file, 30'001, 5000), std::vector<float>(all[0].begin() + 30'001, all[0].begin() + 35'001));
        EXPECT_EQ(readAt(file, 10, 5), std::vector<float>(all[0].begin() + 10, all[0].begin() + 15));
    }
}

TEST(AudioFile, DamagedOrForeignFilesFailWithAClearError)
{
    TemporaryDirectory dir;
    writeAudioFile(dir / "good.m4a", 16000, {sine(440, 16000, 64'000)});
    const std::string m4a = readBytes(dir / "good.m4a");

    writeBytes(dir / "empty.wav", "");
    writeBytes(dir / "text.wav", "this is not audio at all, just some words");
    writeBytes(dir / "short.wav", readBytes(dir / "good.m4a"), 20);
    std::string scrambled = m4a;
    for (std::size_t i = 0; i < scrambled.size(); i += 7) {
        scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5a);
    }
    writeBytes(dir / "scrambled.m4a", scrambled);
    // A whole MP4 keeps its index last: cut before it, nothing says where its audio lies.
    ASSERT_TRUE(encodeWithLibrary(dir / "indexed.m4a", "ipod", "aac", 16000, {sine(440, 16000, 64'000)}));
    const std::string indexed = readBytes(dir / "indexed.m4a");
    writeBytes(dir / "unindexed.m4a", indexed, indexed.find("moov") - 4);

    EXPECT_THAT(openError(dir / "missing.wav"), HasSubstr("Cannot open audio file"));
    EXPECT_THAT(openError(dir.path()), HasSubstr(dir.path().string()));
    for (const char* name : {"empty.wav", "text.wav", "short.wav", "scrambled.m4a", "unindexed.m4a"}) {
        const std::string error = openError(dir / name);
        EXPECT_NE(error, "no error") << name;
        EXPECT_THAT(error, HasSubstr(name));
    }
}

TEST(AudioFile, AFileCutAnywhereInItsAudioGivesEveryWholePacketAndStaysAsItIs)
{
    TemporaryDirectory dir;
    constexpr int rate = 16000;
    // The recorder's own kind of file (fragments of a second), and files of other writers.
    writeAudioFile(dir / "full.m4a", rate, {sine(440, rate, 5 * rate)});
    writeAudioFile(dir / "full.wav", rate, {sine(440, rate, 2 * rate)});
    // Its index first, as a file made for streaming: a cut leaves the index of more than is there.
    ASSERT_TRUE(encodeWithLibrary(dir / "indexed.m4a", "ipod", "aac", rate, {sine(440, rate, 3 * rate)}, "movflags=faststart"));
    std::vector<std::string> names {"full.m4a", "full.wav", "indexed.m4a"};
    if (encodeWithLibrary(dir / "full.mp3", "mp3", "libmp3lame", rate, {sine(440, rate, 3 * rate)})) {
        names.push_back("full.mp3");
    }
    int cuts = 0;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto whole = dir / name;
        const std::string bytes = readBytes(whole);
        AudioFile full(whole);
        EXPECT_FALSE(full.endsEarly());
        const auto all = readAll(full, 4096);
        // The first byte of audio data: past the header, or past the movie box of a fragmented file.
        const std::size_t audioStart = name == "full.m4a" ? bytes.find("moof") - 4
            : name == "indexed.m4a"                      ? bytes.find("mdat") + 4
            : name == "full.wav"                         ? bytes.find("data") + 8
                                                         : bytes.size() / 10;
        ASSERT_LT(audioStart, bytes.size());
        ASSERT_TRUE(name != "indexed.m4a" || bytes.find("moov") < audioStart);
        const std::size_t end = bytes.size();
        // Cuts through the whole of the audio, and one byte either side of every fragment's boxes.
        std::vector<std::size_t> offsets;
        for (std::size_t cut = audioStart + 1; cut < end; cut += (end - audioStart) / 23 + 1) {
            offsets.push_back(cut);
        }
        for (std::size_t box = bytes.find("moof"); name == "full.m4a" && box != std::string::npos; box = bytes.find("moof", box + 1)) {
            for (const std::size_t cut : {box + 20, bytes.find("mdat", box) + 2, bytes.find("mdat", box) + 6}) {
                offsets.push_back(cut);
            }
        }
        std::sort(offsets.begin(), offsets.end());
        std::int64_t previous = 0;
        for (const std::size_t cut : offsets) {
            SCOPED_TRACE(cut);
            const std::string kept = bytes.substr(0, cut);
            writeBytes(dir / ("cut-" + name), kept);
            ++cuts;
            AudioFile file(dir / ("cut-" + name));
            const auto read = readAll(file, 3000);
            ASSERT_EQ(read.size(), 1u);
            EXPECT_EQ(static_cast<std::int64_t>(read[0].size()), file.length());
            EXPECT_GE(file.length(), previous);
            EXPECT_LE(file.length(), full.length());
            previous = file.length();
            // The frames it gives are the whole file's first ones. An MP3 stream has no container
            // to mark its last frame as cut: that one is decoded from what there is of it.
            ASSERT_LE(read[0].size(), all[0].size());
            const std::size_t compared = name == "full.mp3" ? read[0].size() - std::min<std::size_t>(read[0].size(), 1152)
                                                            : read[0].size();
            EXPECT_TRUE(std::equal(read[0].begin(), read[0].begin() + static_cast<std::ptrdiff_t>(compared), all[0].begin()));
            if (name.ends_with(".m4a")) {
                // The library's count of the whole samples on disk: within one AAC frame.
                const auto listed = MP4Duration::read(dir / ("cut-" + name));
                ASSERT_TRUE(listed);
                EXPECT_NEAR(*listed, static_cast<double>(file.length()) / rate, 1024.0 / rate);
            }
            // Read, never mended.
            EXPECT_EQ(readBytes(dir / ("cut-" + name)), kept);
        }
        EXPECT_GT(previous, 0);
    }
    EXPECT_GT(cuts, 100);
}

TEST(AudioFile, OnlyARegularFileIsReadAndItsPathIsOpenedOnce)
{
    TemporaryDirectory dir;
    // A FIFO would block a plain open until a writer came, and never end.
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    EXPECT_THAT(openError(dir / "pipe.wav"), HasSubstr("pipe.wav: not a regular file"));

    // Going back to the start reads the file that was opened, whatever the path names by then.
    const auto first = sine(440, 16000, 20'000);
    writeAudioFile(dir / "take.wav", 16000, {first});
    writeAudioFile(dir / "other.m4a", 16000, {noise(30'000, 0.5f)});
    AudioFile file(dir / "take.wav");
    EXPECT_EQ(readAt(file, 15'000, 100), std::vector<float>(first.begin() + 15'000, first.begin() + 15'100));
    std::filesystem::rename(dir / "other.m4a", dir / "take.wav");
    EXPECT_EQ(readAt(file, 10, 100), std::vector<float>(first.begin() + 10, first.begin() + 110));
    std::filesystem::remove(dir / "take.wav");
    EXPECT_EQ(readAt(file, 0, 20'000), first);
}
