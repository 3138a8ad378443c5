#include "qtsupport/QtLeakSuppressions.hpp"
#include "support/SwayTestServer.hpp"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>


namespace waylandtest {

namespace {
std::unique_ptr<testsupport::SwayTestServer> compositor;
std::string whyNone;
} // namespace

testsupport::SwayTestServer* server()
{
    return compositor.get();
}

const std::string& whyNoServer()
{
    return whyNone;
}

} // namespace waylandtest

// Each case runs in a process of its own with a private sway, started before the application
// object so that Qt itself is a native Wayland client of it.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    if (testsupport::SwayTestServer::available(waylandtest::whyNone)) {
        try {
            waylandtest::compositor = testsupport::SwayTestServer::start();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
        for (const auto& [name, value] : waylandtest::compositor->clientEnvironment()) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        ::unsetenv("DISPLAY");
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
    waylandtest::compositor.reset();
    return result;
}
