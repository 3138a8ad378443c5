#include "platform/system/FileMoves.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

TEST(FileMoves, MovesUnderAFreeNameAndNeverReplacesATakenOne)
{
    testsupport::TemporaryDirectory folder;
    writeFile(folder / "first.m4a", "first");
    writeFile(folder / "second.m4a", "second");

    EXPECT_FALSE(platform::moveItemWithoutReplacing(folder / "first.m4a", folder / "named.m4a"));
    EXPECT_FALSE(std::filesystem::exists(folder / "first.m4a"));
    EXPECT_EQ(readFile(folder / "named.m4a"), "first");

    EXPECT_EQ(platform::moveItemWithoutReplacing(folder / "second.m4a", folder / "named.m4a"),
        std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(readFile(folder / "named.m4a"), "first");
    EXPECT_EQ(readFile(folder / "second.m4a"), "second");

    EXPECT_EQ(platform::moveItemWithoutReplacing(folder / "missing.m4a", folder / "other.m4a"),
        std::make_error_code(std::errc::no_such_file_or_directory));
    EXPECT_FALSE(std::filesystem::exists(folder / "other.m4a"));
}
