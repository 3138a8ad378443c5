#include "platform/input/ActiveWindow.hpp"

#include "platform/input/InputTestSupport.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using platform::input::ActiveWindow;

TEST(ActiveWindow, FindsTheFrontWindowWithItsProcessAndActivatesAnother)
{
    auto server = inputtests::startServer({.windowManager = true});
    ASSERT_TRUE(server);
    inputtests::TestWindow first(server->displayName(), "first", 4242);
    inputtests::TestWindow second(server->displayName(), "second", ::getpid());
    inputtests::WindowSource firstEvents(first);
    inputtests::WindowSource secondEvents(second);
    ASSERT_TRUE(inputtests::pumpUntil({&firstEvents, &secondEvents}, [&] { return first.isMapped() && second.isMapped(); }))
        << server->log();
    int changes = 0;
    ActiveWindow active(server->displayName(), [&] { ++changes; });
    auto frontIs = [&](unsigned long window) {
        const auto front = active.frontmost();
        return front && front->window == window;
    };

    // openbox gives the newest window the focus; once it has, nothing else moves it.
    ASSERT_TRUE(inputtests::pumpUntil({&active, &firstEvents, &secondEvents},
                                      [&] { return frontIs(second.id()) && second.hasFocus(); }));
    const int changesBefore = changes;

    // Reading the property can pull its change event into the queue after the pump dispatched: wait for the
    // handler too, or both changes would arrive in one dispatch below.
    ASSERT_TRUE(active.activate(first.id()));
    ASSERT_TRUE(inputtests::pumpUntil({&active, &firstEvents, &secondEvents}, [&] {
        return frontIs(first.id()) && first.hasFocus() && changes > changesBefore;
    }));
    const int changesAtFirst = changes;
    const auto front = active.frontmost();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, 4242);
    ASSERT_TRUE(active.activate(second.id()));
    ASSERT_TRUE(inputtests::pumpUntil({&active, &firstEvents, &secondEvents}, [&] {
        return frontIs(second.id()) && second.hasFocus() && changes > changesAtFirst;
    }));
    EXPECT_EQ(active.frontmost().value_or(platform::input::FrontWindow {}).pid, ::getpid());
    EXPECT_EQ(active.pidOf(first.id()), 4242);

    first.destroy();
    EXPECT_FALSE(active.activate(first.id()));
    EXPECT_EQ(active.pidOf(first.id()), std::nullopt);
    EXPECT_TRUE(frontIs(second.id()));
}

TEST(ActiveWindow, KnowsNoFrontWindowWithoutAWindowManager)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    inputtests::TestWindow window(server->displayName(), "alone", ::getpid());
    ActiveWindow active(server->displayName());
    EXPECT_EQ(active.frontmost(), std::nullopt);
    EXPECT_EQ(active.pidOf(window.id()), ::getpid());
}
