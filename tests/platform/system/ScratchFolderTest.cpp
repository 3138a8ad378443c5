#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/ScratchFolder.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono_literals;
using testsupport::writeFile;

namespace {

unsigned mode(const std::filesystem::path& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The usual umask of a desktop session, which makes files readable by every user.
class SharedUmask {
public:
    SharedUmask()
        : old_(::umask(022))
    {
    }
    ~SharedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

} // namespace

TEST(ScratchFolder, FilesAreTheOwnersAloneAndFinishedFilesKeepTheUsualMode)
{
    const SharedUmask umask;
    testsupport::TemporaryDirectory root;
    std::filesystem::create_directories(root / "cache" / "tmp");
    std::filesystem::permissions(root / "cache" / "tmp", std::filesystem::perms(0755));

    const platform::ScratchFolder scratch(root / "cache" / "tmp");
    EXPECT_EQ(mode(root / "cache" / "tmp"), 0700u);
    EXPECT_EQ(mode(root / "cache"), 0755u);
    const auto file = scratch.createFile("upload.m4a");
    EXPECT_EQ(file, root / "cache" / "tmp" / "upload.m4a");
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_THROW(scratch.create("upload.m4a"), std::filesystem::filesystem_error);
    EXPECT_EQ(mode(platform::ScratchFolder(root / "new" / "folder").path()), 0700u);
    writeFile(root / "plain", "x");
    EXPECT_THROW(platform::ScratchFolder(root / "plain"), std::filesystem::filesystem_error);

    // A whole-file write is private while it is under way; the result has the mode a new file gets,
    // or the mode of the file it replaces.
    {
        platform::AtomicFileWriter writer(root / "note.json");
        writer.write("{}");
        EXPECT_EQ(mode(writer.temporaryPath()), 0600u);
        EXPECT_TRUE(platform::AtomicFileWriter::isTemporaryName(writer.temporaryPath().filename().string()));
        writer.commit();
    }
    EXPECT_EQ(mode(root / "note.json"), 0644u);
    std::filesystem::permissions(root / "note.json", std::filesystem::perms(0640));
    platform::AtomicFileWriter::writeFile(root / "note.json", "{\"a\":1}");
    EXPECT_EQ(mode(root / "note.json"), 0640u);
}

TEST(ScratchFolder, RemovesOnlyOldLeftoversOfItsOwnNames)
{
    testsupport::TemporaryDirectory folder;
    const auto now = std::filesystem::file_time_type::clock::now();
    const auto plant = [&](const std::string& name, std::filesystem::file_time_type time) {
        writeFile(folder / name, "left");
        std::filesystem::last_write_time(folder / name, time);
    };
    plant(".2025-01-31_1430_Keep.json.0123456789abcdef.tmp", now - 1h);
    plant(".being-written.m4a.fedcba9876543210.tmp", now + 1s);
    plant(".notes.0123456789ABCDEF.tmp", now - 1h);
    plant("notes.tmp", now - 1h);
    plant("2025-01-31_1430_Keep.json", now - 1h);
    std::filesystem::create_directory(folder / ".folder.0123456789abcdef.tmp");
    std::filesystem::create_symlink(folder / "notes.tmp", folder / ".link.0123456789abcdef.tmp");

    const auto isScratch = [](std::string_view name) { return platform::AtomicFileWriter::isTemporaryName(name); };
    EXPECT_EQ(platform::ScratchFolder::removeLeftovers(folder.path(), isScratch, now), 1u);
    EXPECT_FALSE(std::filesystem::exists(folder / ".2025-01-31_1430_Keep.json.0123456789abcdef.tmp"));
    for (const char* kept : {".being-written.m4a.fedcba9876543210.tmp", ".notes.0123456789ABCDEF.tmp", "notes.tmp",
             "2025-01-31_1430_Keep.json", ".folder.0123456789abcdef.tmp"}) {
        EXPECT_TRUE(std::filesystem::exists(folder / kept)) << kept;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder / ".link.0123456789abcdef.tmp"));
    EXPECT_EQ(platform::ScratchFolder::removeLeftovers(folder / "missing", isScratch, now), 0u);
}
