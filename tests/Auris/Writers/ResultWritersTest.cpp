#include "Auris/Core/TranscriptionCoding.hpp"
#include "Auris/Writers/WriteJSON.hpp"
#include "Auris/Writers/WriteSRT.hpp"
#include "Auris/Writers/WriteVTT.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace auris;
using testsupport::readFile;
using testsupport::TemporaryDirectory;

namespace {

TranscriptionResult resultWithWordsAndWithout()
{
    TranscriptionResult result;
    result.text = " Hello there. Bye.";
    result.language = "en";
    TranscriptionSegment first {.id = 0, .start = 0.0f, .end = 2.3f, .text = " Hello there."};
    first.words = std::vector<WordTiming> {
        {" Hello", {1}, 0.0f, 1.0f, 0.9f}, {" there", {2}, 1.0f, 2.0f, 0.8f}, {".", {3}, 2.0f, 2.3f, 0.7f}};
    TranscriptionSegment second {.id = 1, .start = 3725.25f, .end = 3727.5f, .text = " Bye."};
    second.words = std::vector<WordTiming> {};
    result.segments = {first, second};
    return result;
}

} // namespace

TEST(ResultWriters, TimeFormats)
{
    const WriteSRT writer(".");
    EXPECT_EQ(writer.formatTime(3725.25f, true, ","), "01:02:05,250");
    EXPECT_EQ(writer.formatTime(3725.25f, false, "."), "01:02:05.250");
    EXPECT_EQ(writer.formatTime(0, true, ","), "00:00:00,000");
    EXPECT_EQ(writer.formatTime(0, false, "."), "00:00.000");
    EXPECT_EQ(writer.formatTime(65.5f, false, "."), "01:05.500");
    // Float truncation would print 2.299 here.
    EXPECT_EQ(writer.formatTime(2.3f, false, "."), "00:02.300");
    EXPECT_EQ(writer.formatTime(59.9996f, false, "."), "01:00.000");
    EXPECT_EQ(writer.formatTime(std::nanf(""), false, "."), "00:00.000");
    EXPECT_EQ(writer.formatTime(-3, true, ","), "00:00:00,000");
    EXPECT_EQ(writer.formatSegment(7, 1, 2.5f, " Hi"), "7\n00:00:01,000 --> 00:00:02,500\n Hi\n\n");
    EXPECT_EQ(writer.formatTiming(1, 3600, " Hi"), "00:01.000 --> 01:00:00.000\n Hi\n\n");
}

TEST(ResultWriters, WriteSubtitlesAndJSON)
{
    TemporaryDirectory dir;
    const auto result = resultWithWordsAndWithout();

    const auto srt = WriteSRT(dir.path().string()).write(result, "talk");
    ASSERT_TRUE(srt.isSuccess());
    EXPECT_EQ(srt.get(), (dir / "talk.srt").string());
    EXPECT_EQ(readFile(dir / "talk.srt"),
        "1\n00:00:00,000 --> 00:00:01,000\n Hello\n\n"
        "2\n00:00:01,000 --> 00:00:02,000\n there\n\n"
        "3\n00:00:02,000 --> 00:00:02,300\n.\n\n"
        "4\n01:02:05,250 --> 01:02:07,500\n Bye.\n\n");

    ASSERT_TRUE(WriteVTT(dir.path().string()).write(result, "talk").isSuccess());
    EXPECT_EQ(readFile(dir / "talk.vtt"),
        "WEBVTT\n\n"
        "00:00.000 --> 00:01.000\n Hello\n\n"
        "00:01.000 --> 00:02.000\n there\n\n"
        "00:02.000 --> 00:02.300\n.\n\n"
        "01:02:05.250 --> 01:02:07.500\n Bye.\n\n");

    const auto json = WriteJSON(dir.path().string()).write(result, "talk");
    ASSERT_TRUE(json.isSuccess());
    const std::string text = readFile(dir / "talk.json");
    EXPECT_TRUE(text.starts_with("{\n  \"text\": \" Hello there. Bye.\",\n  \"segments\": ["));
    const auto decoded = decodeTranscriptionResult(text);
    EXPECT_EQ(decoded.segments.size(), 2u);
    EXPECT_EQ(decoded.segments[0].words->size(), 3u);

    TranscriptionResult empty;
    ASSERT_TRUE(WriteSRT(dir.path().string()).write(empty, "empty").isSuccess());
    ASSERT_TRUE(WriteVTT(dir.path().string()).write(empty, "empty").isSuccess());
    ASSERT_TRUE(WriteJSON(dir.path().string()).write(empty, "empty").isSuccess());
    EXPECT_EQ(readFile(dir / "empty.srt"), "");
    EXPECT_EQ(readFile(dir / "empty.vtt"), "WEBVTT\n\n");
    EXPECT_TRUE(decodeTranscriptionResult(readFile(dir / "empty.json")).segments.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.srt.partial"));
}

TEST(ResultWriters, FailuresAreReturnedNotThrown)
{
    TemporaryDirectory dir;
    const auto result = resultWithWordsAndWithout();
    const auto missingFolder = WriteSRT((dir / "missing").string()).write(result, "talk");
    EXPECT_FALSE(missingFolder.isSuccess());
    try {
        missingFolder.get();
        ADD_FAILURE() << "no error";
    } catch (const std::filesystem::filesystem_error& error) {
        // The system's reason, not a made-up one.
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory) << error.what();
    }

    for (const char* name : {"../escape", "/tmp/abs", "", ".."}) {
        const auto outcome = WriteJSON(dir.path().string()).write(result, name);
        EXPECT_FALSE(outcome.isSuccess()) << name;
        EXPECT_THROW(outcome.get(), std::invalid_argument);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ResultWriters, APlantedLinkIsNeverFollowed)
{
    TemporaryDirectory dir;
    const auto victim = dir / "victim.txt";
    testsupport::writeFile(victim, "keep me");
    // Where a writer with a predictable temporary name would write first.
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_symlink(victim, dir / "out" / "talk.srt.partial");

    const auto written = WriteSRT((dir / "out").string()).write(resultWithWordsAndWithout(), "talk");
    ASSERT_TRUE(written.isSuccess());
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_TRUE(readFile(dir / "out" / "talk.srt").starts_with("1\n00:00:00,000 --> "));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "out" / "talk.srt.partial"));

    // A link in the destination's own place is replaced, not written through.
    std::filesystem::create_symlink(victim, dir / "out" / "talk.vtt");
    ASSERT_TRUE(WriteVTT((dir / "out").string()).write(resultWithWordsAndWithout(), "talk").isSuccess());
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "out" / "talk.vtt"));
}
