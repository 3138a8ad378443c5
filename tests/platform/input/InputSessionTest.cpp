#include "platform/input/InputSession.hpp"

#include "platform/input/InputTestSupport.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

using platform::input::InputSession;
using testsupport::ScopedEnvironment;

TEST(InputSession, TrustsAnX11SessionWithRecordAndXTestAndSaysWhatIsMissingOtherwise)
{
    ScopedEnvironment noWayland("WAYLAND_DISPLAY", nullptr);
    ScopedEnvironment x11("XDG_SESSION_TYPE", "x11");
    auto full = inputtests::startServer();
    ASSERT_TRUE(full);
    {
        InputSession session(full->displayName());
        EXPECT_TRUE(session.isTrusted()) << session.missingText();
        EXPECT_EQ(session.displayName(), full->displayName());
        EXPECT_EQ(session.missingText(), "");
    }
    {
        ScopedEnvironment display("DISPLAY", full->displayName());
        EXPECT_TRUE(InputSession().isTrusted());
    }

    // The X.Org server switches RECORD and XTEST with one flag: without one it has neither.
    auto withoutRecord = inputtests::startServer({.disabledExtensions = {"RECORD"}});
    ASSERT_TRUE(withoutRecord);
    InputSession untrusted(withoutRecord->displayName());
    EXPECT_FALSE(untrusted.isTrusted());
    EXPECT_EQ(untrusted.missing(), (std::vector<std::string> {"the X server has no RECORD extension",
                                                              "the X server has no XTEST extension"}));
    EXPECT_EQ(untrusted.missingText(), "the X server has no RECORD extension; the X server has no XTEST extension");
}

TEST(InputSession, IsNotTrustedUnderWaylandOrWithoutAnyDisplay)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    {
        ScopedEnvironment wayland("WAYLAND_DISPLAY", "wayland-0");
        InputSession session(server->displayName());
        EXPECT_FALSE(session.isTrusted());
        EXPECT_EQ(session.missingText(), "a Wayland session: other programs' keys cannot be watched");
    }
    {
        ScopedEnvironment noWayland("WAYLAND_DISPLAY", nullptr);
        ScopedEnvironment type("XDG_SESSION_TYPE", "wayland");
        ScopedEnvironment noDisplay("DISPLAY", nullptr);
        EXPECT_EQ(InputSession().missingText(), "a Wayland session without an X display");
    }
    {
        ScopedEnvironment noWayland("WAYLAND_DISPLAY", nullptr);
        ScopedEnvironment type("XDG_SESSION_TYPE", "tty");
        ScopedEnvironment noDisplay("DISPLAY", nullptr);
        EXPECT_EQ(InputSession().missingText(), "no X display (DISPLAY is not set)");
    }
    {
        ScopedEnvironment noWayland("WAYLAND_DISPLAY", nullptr);
        // A display number no server of this test holds: the socket path is private to a dead name.
        InputSession session(":" + std::to_string(65000));
        EXPECT_FALSE(session.isTrusted());
        EXPECT_EQ(session.missingText(), "cannot open the X display \":65000\"");
    }
}
