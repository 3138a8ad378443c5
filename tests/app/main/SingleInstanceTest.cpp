#include "ParlinoAppFixture.hpp"

#include "platform/system/FileBookmark.hpp"
#include "support/TemporaryDirectory.hpp"

#include <csignal>
#include <fstream>
#include <sys/stat.h>

using namespace std::chrono_literals;

TEST_F(ParlinoApp, ASecondLaunchShowsTheRunningWindowAndAKilledRunLeavesNothingBehind)
{
    // What a killed run leaves, beside files of the user's that only look alike.
    const auto scratch = home / ".cache" / "parlino" / "tmp";
    const auto exportFolder = home / "Exported";
    // The cloud is off in this run: its upload copies go all the same.
    const auto uploads = home / ".cache" / "parlino" / "CloudUploads";
    for (const auto& folder : {library(), scratch, exportFolder, uploads}) {
        std::filesystem::create_directories(folder);
    }
    std::filesystem::permissions(scratch, std::filesystem::perms(0755));
    const std::vector<std::filesystem::path> leftovers {
        library() / ".2025-01-31_1430_Note.json.0123456789abcdef.tmp",
        scratch / "preprocessed_0F8FAD5B-D9CB-469F-A165-70867728950E.wav",
        exportFolder / ".2025-01-31_1430_Note.m4a.fedcba9876543210.tmp",
        uploads / "upload-0F8FAD5B-D9CB-469F-A165-70867728950E.m4a",
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
    EXPECT_TRUE(std::filesystem::exists(library() / ".parlino.lock"));
    auto third = launch();
    ASSERT_TRUE(third);
    ASSERT_TRUE(third->waitForPlace("parlinoWindow")) << third->output();
    auto fourth = launch();
    ASSERT_TRUE(fourth);
    ASSERT_TRUE(fourth->process().waitForExit(timeout)) << fourth->output();
    EXPECT_EQ(fourth->process().exitCode(), 0) << fourth->output();
    EXPECT_FALSE(third->process().hasExited());
}

TEST_F(ParlinoApp, LaunchesOnOneLibraryMeetWhateverTheirRuntimeFolderAndAFrozenOneIsTold)
{
    reported += ",alreadyRunningAlert";
    ASSERT_TRUE(desktop->becomeSystemTray());
    auto first = launch();
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->waitForPlace("parlinoWindow")) << first->output();
    const auto note = [&] {
        std::ifstream file(library() / ".parlino.lock");
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    ASSERT_TRUE(first->poll([&] { return !note().empty(); })) << first->output();
    const std::filesystem::path socket = note();
    EXPECT_EQ(socket.parent_path(), home / "runtime");

    // Another session's runtime folder, and none at all (a terminal, a cron job): both find the
    // running program through the library and hand over to it.
    std::filesystem::create_directories(home / "other-runtime");
    std::filesystem::permissions(home / "other-runtime", std::filesystem::perms::owner_all);
    for (const std::optional<std::string>& runtime : {std::optional<std::string>((home / "other-runtime").string()), std::optional<std::string>()}) {
        auto other = launch({{"XDG_RUNTIME_DIR", runtime}});
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->process().waitForExit(timeout)) << other->output();
        EXPECT_EQ(other->process().exitCode(), 0) << other->output();
        EXPECT_FALSE(other->place("parlinoWindow"));
    }
    EXPECT_FALSE(first->process().hasExited());
    EXPECT_TRUE(std::filesystem::is_empty(home / "other-runtime"));

    // Frozen, the first still takes the connection but never answers: the launch says so on
    // screen and in its output, and ends once the alert is dismissed.
    ASSERT_EQ(::kill(first->process().pid(), SIGSTOP), 0);
    auto blocked = launch();
    ASSERT_TRUE(blocked);
    const bool alerted = blocked->waitForPlace("alreadyRunningAlert");
    ::kill(first->process().pid(), SIGCONT);
    ASSERT_TRUE(alerted) << blocked->output();
    EXPECT_TRUE(blocked->saw("❌ Parlino is already running, but its window could not be reached: it did not answer within 5 seconds"))
        << blocked->output();
    EXPECT_FALSE(blocked->place("parlinoWindow"));
    unsigned long alert = 0;
    ASSERT_TRUE(blocked->poll([&] { return (alert = desktop->windowOfProcess(blocked->process().pid())) != 0; }));
    desktop->closeWindow(alert);
    ASSERT_TRUE(blocked->process().waitForExit(timeout)) << blocked->output();
    EXPECT_EQ(blocked->process().exitCode(), 1) << blocked->output();

    // A folder left at the socket's path is replaced like a dead program's socket; one holding
    // something is left alone and another name taken.
    EXPECT_FALSE(first->process().hasExited()) << first->output();
    first->process().kill();
    ASSERT_TRUE(first->process().waitForExit(timeout));
    std::filesystem::remove(socket);
    std::filesystem::create_directories(socket);
    auto next = launch();
    ASSERT_TRUE(next);
    ASSERT_TRUE(next->waitForPlace("parlinoWindow")) << next->output();
    ASSERT_TRUE(next->poll([&] { return note() == socket.string(); })) << next->output() << note();
    auto handedOver = launch();
    ASSERT_TRUE(handedOver);
    ASSERT_TRUE(handedOver->process().waitForExit(timeout)) << handedOver->output();
    EXPECT_EQ(handedOver->process().exitCode(), 0) << handedOver->output();

    next->process().kill();
    ASSERT_TRUE(next->process().waitForExit(timeout));
    std::filesystem::remove(socket);
    std::filesystem::create_directories(socket);
    testsupport::writeFile(socket / "kept", "mine");
    auto last = launch();
    ASSERT_TRUE(last);
    ASSERT_TRUE(last->waitForPlace("parlinoWindow")) << last->output();
    ASSERT_TRUE(last->poll([&] { return !note().empty() && note() != socket.string(); })) << last->output();
    EXPECT_TRUE(std::filesystem::exists(socket / "kept"));
    auto reached = launch();
    ASSERT_TRUE(reached);
    ASSERT_TRUE(reached->process().waitForExit(timeout)) << reached->output();
    EXPECT_EQ(reached->process().exitCode(), 0) << reached->output();
}
