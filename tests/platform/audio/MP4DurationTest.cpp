#include "platform/audio/MP4Duration.hpp"

#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioFileError.hpp"
#include "platform/audio/LibraryEncoder.hpp"
#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace platform;
using namespace testsupport;

namespace {

constexpr int rate = 16000;

double decodedSeconds(const std::filesystem::path& path)
{
    const AudioFile file(path);
    return static_cast<double>(file.length()) / rate;
}

// The recorder's kind of file, cut into fragments of a fifth of a second as a crash-safe writer makes it.
void writeFragmented(const std::filesystem::path& path, double seconds)
{
    ASSERT_TRUE(encodeWithLibrary(path, "ipod", "aac", rate, {sine(440, rate, static_cast<std::size_t>(seconds * rate))},
                                  "movflags=frag_keyframe+empty_moov+default_base_moof:frag_duration=200000"));
}

void keepBytes(const std::filesystem::path& from, const std::filesystem::path& to, std::uintmax_t count)
{
    std::ifstream in(from, std::ios::binary);
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    std::ofstream(to, std::ios::binary) << bytes;
}

std::string failure(const std::filesystem::path& path)
{
    try {
        MP4Duration::read(path);
    } catch (const AudioFileError& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST(MP4Duration, WholeAndFragmentedFilesGiveTheLengthDecodingGives)
{
    TemporaryDirectory dir;
    writeAudioFile(dir / "whole.m4a", rate, {sine(440, rate, 3 * rate / 2)});
    writeFragmented(dir / "fragmented.m4a", 2.0);
    for (const char* name : {"whole.m4a", "fragmented.m4a"}) {
        const std::optional<double> seconds = MP4Duration::read(dir / name);
        ASSERT_TRUE(seconds) << name;
        // Within one AAC frame of what the decoder delivers.
        EXPECT_NEAR(*seconds, decodedSeconds(dir / name), 1024.0 / rate) << name;
    }
    EXPECT_NEAR(*MP4Duration::read(dir / "whole.m4a"), 1.5, 0.07);
    EXPECT_NEAR(*MP4Duration::read(dir / "fragmented.m4a"), 2.0, 0.07);
}

TEST(MP4Duration, AFragmentedFileCutAnywhereCountsOnlyWhatIsOnDisk)
{
    TemporaryDirectory dir;
    writeFragmented(dir / "full.m4a", 3.0);
    const std::uintmax_t size = std::filesystem::file_size(dir / "full.m4a");
    const double full = *MP4Duration::read(dir / "full.m4a");

    // Cuts at every few bytes from just past the movie box to the end: the length never goes back
    // as more of the file is there, and never passes the whole file's.
    std::ifstream in(dir / "full.m4a", std::ios::binary);
    const std::string bytes {std::istreambuf_iterator<char>(in), {}};
    const std::size_t firstFragment = bytes.find("moof") - 4;
    ASSERT_LT(firstFragment, size);
    double previous = 0;
    bool sawPartial = false;
    for (std::uintmax_t cut = firstFragment; cut < size; cut += 97) {
        keepBytes(dir / "full.m4a", dir / "cut.m4a", cut);
        const std::optional<double> seconds = MP4Duration::read(dir / "cut.m4a");
        ASSERT_TRUE(seconds) << cut;
        EXPECT_GE(*seconds, previous) << cut;
        EXPECT_LE(*seconds, full) << cut;
        sawPartial = sawPartial || (*seconds > 0.5 && *seconds < full - 0.5);
        previous = *seconds;
    }
    EXPECT_TRUE(sawPartial);
    // Cut in the middle: about half of the audio, within one fragment and its frames.
    keepBytes(dir / "full.m4a", dir / "cut.m4a", size / 2);
    EXPECT_NEAR(*MP4Duration::read(dir / "cut.m4a"), full / 2, 0.35);
}

TEST(MP4Duration, OtherFilesAreRefusedOrLeftToAnotherReaderWithoutBlocking)
{
    TemporaryDirectory dir;
    writeAudioFile(dir / "speech.wav", rate, {sine(440, rate, rate)});
    EXPECT_FALSE(MP4Duration::read(dir / "speech.wav"));
    std::ofstream(dir / "empty.m4a").flush();
    EXPECT_FALSE(MP4Duration::read(dir / "empty.m4a"));

    // An unfragmented file's movie box comes last: one cut before it has no length to read.
    ASSERT_TRUE(encodeWithLibrary(dir / "whole.m4a", "ipod", "aac", rate, {sine(440, rate, rate)}));
    keepBytes(dir / "whole.m4a", dir / "killed.m4a", std::filesystem::file_size(dir / "whole.m4a") / 2);
    EXPECT_NE(failure(dir / "killed.m4a").find("no movie box"), std::string::npos);

    std::ofstream(dir / "garbage.m4a", std::ios::binary) << std::string("\0\0\0\x10" "ftypM4A \0\0\0\0" "\0\0\0\x09moov\x01", 25);
    EXPECT_NE(failure(dir / "garbage.m4a"), "no error");

    ASSERT_EQ(::mkfifo((dir / "pipe.m4a").c_str(), 0600), 0);
    EXPECT_NE(failure(dir / "pipe.m4a").find("not a regular file"), std::string::npos);
}
