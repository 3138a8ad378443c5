#include "app/dictation/x11/X11Desktop.hpp"
#include "qtsupport/QtLeakSuppressions.hpp"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>


namespace x11test {

namespace {
std::unique_ptr<testsupport::XvfbTestServer> desktop;
std::string whyNone;
} // namespace

testsupport::XvfbTestServer* server()
{
    return desktop.get();
}

const std::string& whyNoServer()
{
    return whyNone;
}

} // namespace x11test

// Each case runs in a process of its own with a private X server and window manager, started
// before the application object so that Qt itself (and with it the clipboard) lives on that server.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    x11test::desktop = testsupport::XvfbTestServer::start(x11test::whyNone, {.windowManager = true});
    if (x11test::desktop) {
        ::setenv("DISPLAY", x11test::desktop->displayName().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        for (const auto& [name, value] : x11test::desktop->clientEnvironment()) {
            if (name == "XDG_RUNTIME_DIR") {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
        }
    } else {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ::setenv("TZ", "UTC", 1);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    x11test::desktop.reset();
    return result;
}
