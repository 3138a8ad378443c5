#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

// Leaks inside Qt, X11 and fontconfig are theirs (one-time caches kept until exit); ours are never
// suppressed. Read by LeakSanitizer at start-up; harmless in builds without it.
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" PARLINO_SOURCE_DIR "/tests/lsan-qt.supp:print_suppressions=0";
}

namespace {

// One offscreen screen the size of a common laptop's, 1280 × 720, so that windows meet a real limit.
std::filesystem::path writeScreenConfiguration()
{
    const std::filesystem::path file
        = std::filesystem::temp_directory_path() / ("parlino-offscreen-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file) << R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1280, "height": 720,
        "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    return file;
}

} // namespace

// Qt suites run every case inside one QApplication on the offscreen platform, with a fixed locale,
// time zone and scale so that texts and screenshots do not depend on the machine.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    std::filesystem::path screens;
    if (!std::getenv("QT_QPA_PLATFORM")) {
        screens = writeScreenConfiguration();
        ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens.string()).c_str(), 1);
    }
    // One scale and font resolution everywhere, so that widget sizes and screenshots are stable.
    ::setenv("QT_SCALE_FACTOR", "1", 1);
    ::setenv("QT_FONT_DPI", "96", 1);
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    ::setenv("TZ", "UTC", 1);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication application(argc, argv);
    if (!screens.empty()) {
        std::filesystem::remove(screens);
    }
    return RUN_ALL_TESTS();
}
