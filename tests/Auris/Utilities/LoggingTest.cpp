#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/Signposts.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using auris::Logging;
using Level = Logging::LogLevel;
using testsupport::CapturedLog;

TEST(Logging, LevelDecidesWhichLinesAreWritten)
{
    struct Case {
        Level level;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {Level::debug, {"d", "i", "e"}},
        {Level::info, {"i", "e"}},
        {Level::error, {"e"}},
        {Level::none, {}},
    };
    for (const auto& c : cases) {
        CapturedLog log(c.level);
        Logging::debug("d");
        Logging::info("i");
        Logging::error("e");
        EXPECT_EQ(log.lines(), c.expected) << static_cast<int>(c.level);
    }
}

TEST(Logging, RendersItemsWithSeparatorAndNoTerminator)
{
    CapturedLog log(Level::debug);
    Logging::debug("Loaded", 3, "models in", 1.5, "s", true);
    Logging::debug();
    Logging::info(30.0f);
    EXPECT_EQ(log.lines(), (std::vector<std::string> {"Loaded 3 models in 1.5 s true", "", "30.0"}));
}

TEST(Logging, RawLevelsAndCallbackRemoval)
{
    EXPECT_FALSE(Logging::logLevelFromRawValue(0));
    EXPECT_FALSE(Logging::logLevelFromRawValue(5));
    EXPECT_FALSE(Logging::logLevelFromRawValue(-1));
    EXPECT_EQ(Logging::logLevelFromRawValue(1), Level::debug);
    EXPECT_EQ(Logging::logLevelFromRawValue(4), Level::none);

    {
        CapturedLog log(Level::debug);
        EXPECT_TRUE(Logging::shared().hasLoggingCallback());
    }
    EXPECT_FALSE(Logging::shared().hasLoggingCallback());
}

TEST(Logging, ManyThreadsLogThroughOneCallback)
{
    CapturedLog log(Level::info);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                Logging::info("line");
                Logging::debug("dropped");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(log.lines().size(), 1600u);
}

TEST(Logging, MemoryUsageLineHasTheFixedShape)
{
    CapturedLog log(Level::debug);
    auris::logCurrentMemoryUsage("After load");
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_TRUE(line.starts_with("After load - Memory usage: ")) << line;
    EXPECT_TRUE(line.ends_with(" MB")) << line;
    EXPECT_GT(auris::getMemoryUsage(), 0u);
}

TEST(Signposts, IntervalsBalanceAndDoubleEndsAreMarked)
{
    platform::Signposter signposter("com.aurislabs.auris", "Test");
    signposter.setEnabled(true);
    {
        auris::SignpostInterval interval("Decode", signposter);
        EXPECT_EQ(signposter.openIntervalCount(), 1);
    }
    EXPECT_EQ(signposter.openIntervalCount(), 0);

    auto state = auris::beginSignpostInterval("EncodeAudio", signposter);
    auris::endSignpostInterval("EncodeAudio", signposter, state);
    auris::endSignpostInterval("EncodeAudio", signposter, state);
    EXPECT_EQ(signposter.openIntervalCount(), 0);
    const auto events = signposter.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[2].kind, platform::Signposter::Event::Kind::begin);
    EXPECT_EQ(events[3].message, "");
    EXPECT_EQ(events[4].message, "[Error] Interval already ended");
    EXPECT_EQ(events[4].id, events[2].id);

    // An interval left by an exception is still ended.
    try {
        auris::SignpostInterval interval("TranscribeAudio", signposter);
        throw std::runtime_error("cancelled");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(signposter.openIntervalCount(), 0);
}
