#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

// Leaks inside Qt, X11 and fontconfig are theirs (one-time caches kept until exit); ours are never
// suppressed. Read by LeakSanitizer at start-up; harmless in builds without it.
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" PARLINO_SOURCE_DIR "/tests/lsan-qt.supp:print_suppressions=0";
}

// Qt suites run every case inside one QApplication on the offscreen platform, with a fixed locale,
// time zone and scale so that texts and screenshots do not depend on the machine.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // One scale and font resolution everywhere, so that widget sizes and screenshots are stable.
    ::setenv("QT_SCALE_FACTOR", "1", 1);
    ::setenv("QT_FONT_DPI", "96", 1);
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    ::setenv("TZ", "UTC", 1);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
