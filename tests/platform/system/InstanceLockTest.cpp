#include "platform/system/InstanceLock.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(InstanceLock, OneHolderAtATimeAndALockWhoseHolderWasKilledIsTakenOver)
{
    testsupport::TemporaryDirectory folder;
    const auto file = folder / "parlino.lock";

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        auto lock = platform::InstanceLock::acquire(file);
        if (lock) {
            lock->setNote("/run/user/1000/parlino-held.socket");
        }
        const char held = lock ? 'y' : 'n';
        [[maybe_unused]] const auto written = ::write(ready[1], &held, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(held, 'y');

    // Tried, never waited for, while the other process lives.
    EXPECT_FALSE(platform::InstanceLock::acquire(file));
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    // Its note tells the others where it listens.
    EXPECT_EQ(platform::InstanceLock::noteOf(file), "/run/user/1000/parlino-held.socket");

    // A crash leaves the file; nothing holds it any more.
    ASSERT_EQ(::kill(holder, SIGKILL), 0);
    int exit = 0;
    ASSERT_EQ(::waitpid(holder, &exit, 0), holder);
    ASSERT_TRUE(std::filesystem::exists(file));
    auto taken = platform::InstanceLock::acquire(file);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->file(), file);
    // The dead holder's note stays until replaced, and a shorter one leaves nothing of it.
    taken->setNote("/tmp/new.socket");
    EXPECT_EQ(platform::InstanceLock::noteOf(file), "/tmp/new.socket");
    EXPECT_THROW(taken->setNote(std::string(platform::InstanceLock::maximumNoteSize + 1, 'x')), std::filesystem::filesystem_error);
    EXPECT_EQ(platform::InstanceLock::noteOf(folder / "missing.lock"), "");
    // A second open of the same file in this process is another holder too.
    EXPECT_FALSE(platform::InstanceLock::acquire(file));
    taken.reset();
    EXPECT_TRUE(platform::InstanceLock::acquire(file));

    EXPECT_THROW(platform::InstanceLock::acquire(folder / "missing" / "parlino.lock"), std::filesystem::filesystem_error);
}
