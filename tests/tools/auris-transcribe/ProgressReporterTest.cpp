#include "tools/auris-transcribe/FileProgress.hpp"
#include "tools/auris-transcribe/ProgressReporter.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace auris;
using namespace std::chrono_literals;

namespace {

struct FakeClock {
    ProgressReporter::Clock::time_point now {};
    std::function<ProgressReporter::Clock::time_point()> function()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(ProgressReporter, PlainLinesCountWholePercentsWithElapsedAndLeft)
{
    FakeClock clock;
    std::ostringstream stream;
    ProgressReporter reporter(stream, "talk.wav", {.terminal = false}, clock.function());
    reporter.start();
    clock.now += 10s;
    reporter.update(0.25);
    reporter.update(0.251); // the same whole percent
    reporter.update(0.1);   // never back
    clock.now += 50s;
    reporter.update(0.5);
    clock.now += 3600s;
    reporter.finish();
    reporter.update(0.9); // after the end
    EXPECT_EQ(stream.str(),
        "talk.wav: 0% of the audio, 0:00 elapsed\n"
        "talk.wav: 25% of the audio, 0:10 elapsed, about 0:30 left\n"
        "talk.wav: 50% of the audio, 1:00 elapsed, about 1:00 left\n"
        "talk.wav: 100% of the audio, 1:01:00 elapsed\n");

    // All done before the end is said once.
    std::ostringstream early;
    ProgressReporter done(early, "x.wav", {.terminal = false}, clock.function());
    done.start();
    done.update(1.0);
    done.finish();
    EXPECT_EQ(early.str(), "x.wav: 0% of the audio, 0:00 elapsed\nx.wav: 100% of the audio, 0:00 elapsed\n");
}

TEST(ProgressReporter, TerminalBarIsRedrawnInPlaceWithinTheWidth)
{
    FakeClock clock;
    std::ostringstream stream;
    const std::string name = "/recordings/a-very-long-folder-name/meeting-of-the-whole-team.wav";
    ProgressReporter reporter(stream, name, {.terminal = true, .width = 80}, clock.function());
    reporter.start();
    reporter.update(0.0001); // nothing new to draw: same percent, same second
    clock.now += 20s;
    reporter.update(0.5);
    clock.now += 20s;
    reporter.finish();

    std::vector<std::string> draws;
    std::istringstream parts(stream.str());
    for (std::string part; std::getline(parts, part, '\r');) {
        if (!part.empty()) draws.push_back(part);
    }
    ASSERT_EQ(draws.size(), 3u) << stream.str();
    EXPECT_EQ(draws[1], "...le-team.wav [##########----------]  50%  0:20 elapsed, about 0:20 left\x1b[K");
    EXPECT_EQ(draws[2], "...le-team.wav [####################] 100%  0:40 elapsed\x1b[K\n");
    for (const auto& draw : draws) {
        EXPECT_LT(draw.find("\x1b[K"), 80u) << draw;
    }

    // A failed file's bar is wiped, and nothing follows.
    std::ostringstream failed;
    ProgressReporter abandoned(failed, "x.wav", {.terminal = true}, clock.function());
    abandoned.start();
    abandoned.abandon();
    abandoned.finish();
    EXPECT_EQ(failed.str(), "\rx.wav [--------------------]   0%  0:00 elapsed\x1b[K\r\x1b[K");
}

TEST(FileProgress, AddsUpTasksAcrossReplacedProgressObjects)
{
    // A task of an earlier file that never finished is already in the engine's object.
    auto first = std::make_shared<hub::Progress>();
    auto stale = std::make_shared<hub::Progress>(10);
    stale->setCompletedUnitCount(5);
    first->setTotalUnitCount(1);
    first->addChild(stale, 1);

    FileProgress progress(first, 4);
    EXPECT_DOUBLE_EQ(progress.fraction(first), 0);

    auto chunk = [](const std::shared_ptr<hub::Progress>& parent, std::int64_t done) {
        auto task = std::make_shared<hub::Progress>(100);
        task->setCompletedUnitCount(done);
        parent->setTotalUnitCount(parent->totalUnitCount() + 1);
        parent->addChild(task, 1);
        return task;
    };
    const auto a = chunk(first, 50);
    EXPECT_DOUBLE_EQ(progress.fraction(first), 0.125);
    a->setCompletedUnitCount(100);

    // The engine moved on to a fresh object; the first one's work still counts.
    auto second = std::make_shared<hub::Progress>();
    chunk(second, 100);
    chunk(second, 100);
    const auto last = chunk(second, 50);
    EXPECT_DOUBLE_EQ(progress.fraction(second), 0.875);
    EXPECT_DOUBLE_EQ(progress.fraction(nullptr), 0.875);
    last->setCompletedUnitCount(100);
    EXPECT_DOUBLE_EQ(progress.fraction(second), 1.0);
    // More tasks than expected never read as more than all.
    chunk(second, 100);
    EXPECT_DOUBLE_EQ(progress.fraction(second), 1.0);
}
