#include "ParlinoAppFixture.hpp"

#include "platform/system/FileBookmark.hpp"
#include "support/TemporaryDirectory.hpp"

#include <sys/stat.h>

using namespace std::chrono_literals;

TEST_F(ParlinoApp, ASecondLaunchShowsTheRunningWindowAndAKilledRunLeavesNothingBehind)
{
    // What a killed run leaves, beside files of the user's that only look alike.
    const auto scratch = home / ".cache" / "parlino" / "tmp";
    const auto exportFolder = home / "Exported";
    for (const auto& folder : {library(), scratch, exportFolder}) {
        std::filesystem::create_directories(folder);
    }
    std::filesystem::permissions(scratch, std::filesystem::perms(0755));
    const std::vector<std::filesystem::path> leftovers {
        library() / ".2025-01-31_1430_Note.json.0123456789abcdef.tmp",
        scratch / "preprocessed_0F8FAD5B-D9CB-469F-A165-70867728950E.wav",
        exportFolder / ".2025-01-31_1430_Note.m4a.fedcba9876543210.tmp",
    };
    const std::vector<std::filesystem::path> kept {library() / "notes.tmp", scratch / "preprocessed_notes.wav",
        exportFolder / ".hidden.tmp"};
    for (const auto& file : leftovers) {
        testsupport::writeFile(file, "left");
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - 1h);
    }
    for (const auto& file : kept) {
        testsupport::writeFile(file, "mine");
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - 1h);
    }
    const std::string bookmark = platform::FileBookmark::create(exportFolder);
    platform::UserDefaults(settingsFile()).setData("exportFolderBookmark", QByteArray::fromStdString(bookmark));

    ASSERT_TRUE(desktop->becomeSystemTray());
    auto first = launch();
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->waitForPlace("parlinoWindow")) << first->output();
    EXPECT_TRUE(first->poll([&] {
        return std::none_of(leftovers.begin(), leftovers.end(), [](const auto& file) { return std::filesystem::exists(file); });
    })) << first->output();
    for (const auto& file : kept) {
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }
    struct stat status {};
    ASSERT_EQ(::stat(scratch.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    unsigned long window = 0;
    ASSERT_TRUE(first->poll([&] { return (window = desktop->windowOfProcess(first->process().pid())) != 0; }));
    // The second launch hands over to the running window and ends without one of its own.
    auto second = launch();
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->process().waitForExit(timeout)) << second->output();
    EXPECT_EQ(second->process().exitCode(), 0) << second->output();
    EXPECT_FALSE(second->place("parlinoWindow"));
    EXPECT_TRUE(first->poll([&] { return desktop->isViewable(window) && desktop->activeWindow() == window; }))
        << first->output();
    EXPECT_FALSE(first->process().hasExited());

    // Killed, the first leaves its lock file and socket; the next launch takes them over.
    first->process().kill();
    ASSERT_TRUE(first->process().waitForExit(timeout));
    EXPECT_TRUE(std::filesystem::exists(home / "runtime" / "parlino.lock"));
    auto third = launch();
    ASSERT_TRUE(third);
    ASSERT_TRUE(third->waitForPlace("parlinoWindow")) << third->output();
    auto fourth = launch();
    ASSERT_TRUE(fourth);
    ASSERT_TRUE(fourth->process().waitForExit(timeout)) << fourth->output();
    EXPECT_EQ(fourth->process().exitCode(), 0) << fourth->output();
    EXPECT_FALSE(third->process().hasExited());
}
