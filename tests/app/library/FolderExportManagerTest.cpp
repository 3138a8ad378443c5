#include "LibraryFixture.hpp"

#include "app/library/FolderExportManager.hpp"

#include <QSignalSpy>

#include <gmock/gmock.h>

using namespace parlino;
using namespace librarytest;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

class FolderExportManagerTest : public LibraryFixture {
protected:
    FolderExportManagerTest()
        : defaults_(root() / "config" / "parlino" / "parlino.conf")
    {
    }

    void SetUp() override
    {
        library_ = makeLibrary();
        writeAudio(libraryFolder() / "2025-01-31_1430_Standup.m4a");
        writeAudio(libraryFolder() / "2025-02-01_0900_Ideas.m4a", 0.25);
        library_->loadRecordings();
        ASSERT_EQ(library_->recordings().size(), 2);
        std::filesystem::create_directories(exportFolder());
    }

    std::filesystem::path exportFolder() const { return root() / "Exports"; }

    std::unique_ptr<FolderExportManager> makeExporter()
    {
        auto exporter = std::make_unique<FolderExportManager>(defaults_, *library_);
        exporter->loadExportBookmark();
        return exporter;
    }

    static void run(const std::function<void(FolderExportManager::Completion)>& start)
    {
        bool done = false;
        start([&] { done = true; });
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return done; }));
    }

    static void exportAll(FolderExportManager& exporter)
    {
        run([&](FolderExportManager::Completion completion) {
            exporter.exportAllRecordings([completion = std::move(completion)](FolderExportManager::Count) { completion(); });
        });
    }

    platform::UserDefaults defaults_;
    std::unique_ptr<RecordingsManager> library_;
};

} // namespace

TEST_F(FolderExportManagerTest, ExportsTwiceAndFindsTheFolderAgainAfterARelaunch)
{
    auto exporter = makeExporter();
    EXPECT_FALSE(exporter->exportFolderURL());
    EXPECT_FALSE(exporter->autoExportEnabled());

    {
        CapturedConsole console;
        exportAll(*exporter);
        EXPECT_EQ(console.lines().back(), "✅ Exported 0 recordings");
    }
    EXPECT_EQ(exporter->exportError(), QStringLiteral("No export folder selected"));
    EXPECT_TRUE(fileNames(exportFolder()).empty());

    {
        CapturedConsole console;
        exporter->selectExportFolder(exportFolder());
        EXPECT_EQ(console.lines(), std::vector<std::string> {"✅ Export folder saved: " + exportFolder().string()});
    }
    EXPECT_EQ(exporter->exportFolderURL(), exportFolder());
    EXPECT_FALSE(exporter->exportError());

    const std::vector<std::string> exported {"2025-01-31_1430_Standup.json", "2025-01-31_1430_Standup.m4a",
                                             "2025-02-01_0900_Ideas.json", "2025-02-01_0900_Ideas.m4a"};
    QSignalSpy dates(exporter.get(), &FolderExportManager::lastExportDateChanged);
    {
        CapturedConsole console;
        exportAll(*exporter);
        const auto lines = console.lines();
        EXPECT_TRUE(contains(lines, "✅ Exported: Standup"));
        EXPECT_TRUE(contains(lines, "✅ Exported: Ideas"));
        EXPECT_EQ(lines.back(), "✅ Exported 2 recordings");
    }
    EXPECT_EQ(dates.count(), 2);
    EXPECT_TRUE(exporter->lastExportDate());
    EXPECT_EQ(fileNames(exportFolder()), exported);

    // A second run replaces the copies, also one changed since, and adds nothing beside them.
    testsupport::writeFile(exportFolder() / "2025-01-31_1430_Standup.m4a", "changed in the export folder");
    exportAll(*exporter);
    EXPECT_EQ(fileNames(exportFolder()), exported);
    EXPECT_EQ(testsupport::readFile(exportFolder() / "2025-01-31_1430_Standup.m4a"),
              testsupport::readFile(libraryFolder() / "2025-01-31_1430_Standup.m4a"));
    EXPECT_EQ(testsupport::readFile(exportFolder() / "2025-02-01_0900_Ideas.json"),
              testsupport::readFile(libraryFolder() / "2025-02-01_0900_Ideas.json"));
    EXPECT_FALSE(exporter->exportError());

    exporter->setAutoExport(true);
    EXPECT_TRUE(defaults_.boolValue(QString::fromLatin1(FolderExportManager::autoExportKey)));

    // A relaunch: a new manager over the same settings.
    {
        CapturedConsole console;
        auto relaunched = makeExporter();
        EXPECT_EQ(relaunched->exportFolderURL(), exportFolder());
        EXPECT_TRUE(relaunched->autoExportEnabled());
        EXPECT_FALSE(relaunched->exportError());
        EXPECT_EQ(console.lines(), std::vector<std::string> {"✅ Loaded export folder: " + exportFolder().string()});
    }

    // Saving a recording exports nothing by itself.
    writeAudio(libraryFolder() / "2025-03-01_1000_Later.m4a");
    library_->saveRecording({libraryFolder() / "2025-03-01_1000_Later.m4a", {}, 1, QStringLiteral("Later")});
    QCoreApplication::processEvents();
    EXPECT_EQ(fileNames(exportFolder()), exported);

    // A folder removed, or removed and made again, is not the folder chosen.
    std::filesystem::remove_all(exportFolder());
    for (int round = 0; round < 2; ++round) {
        CapturedConsole console;
        auto relaunched = makeExporter();
        EXPECT_FALSE(relaunched->exportFolderURL());
        EXPECT_EQ(console.lines(), std::vector<std::string> {"⚠️ Bookmark is stale, need to re-select folder"});
        std::filesystem::create_directories(exportFolder());
    }
    EXPECT_FALSE(defaults_.dataValue(QString::fromLatin1(FolderExportManager::bookmarkKey)).isEmpty());

    defaults_.setData(QString::fromLatin1(FolderExportManager::bookmarkKey), "not a bookmark");
    CapturedConsole console;
    auto damaged = makeExporter();
    EXPECT_FALSE(damaged->exportFolderURL());
    EXPECT_THAT(console.lines(), testing::ElementsAre(StartsWith("❌ Failed to resolve bookmark: ")));
}

TEST_F(FolderExportManagerTest, RefusesTheLibraryFolderWhatLiesInItAndWhatHoldsIt)
{
    auto exporter = makeExporter();
    const std::string refusal = "Failed to save folder: " + std::string(FolderExportManager::overlappingFolderText);
    std::filesystem::create_directories(libraryFolder() / "inside");
    const auto before = fileNames(libraryFolder());
    const std::string audio = testsupport::readFile(libraryFolder() / "2025-01-31_1430_Standup.m4a");
    for (const std::filesystem::path& folder :
         {libraryFolder(), libraryFolder() / "inside", libraryFolder() / ".." / "Parlino", root() / "Documents", root(),
          std::filesystem::path("/")}) {
        exporter->setExportError(std::nullopt);
        exporter->selectExportFolder(folder);
        EXPECT_FALSE(exporter->exportFolderURL()) << folder;
        EXPECT_EQ(exporter->exportError(), QString::fromStdString(refusal)) << folder;
    }
    EXPECT_TRUE(defaults_.dataValue(QString::fromLatin1(FolderExportManager::bookmarkKey)).isEmpty());

    // A folder set through the screen's binding is refused at export time.
    exporter->setExportFolderURL(libraryFolder());
    CapturedConsole console;
    exportAll(*exporter);
    const auto lines = console.lines();
    EXPECT_EQ(exporter->exportError(),
              QStringLiteral("Export failed: ") + QString::fromUtf8(FolderExportManager::overlappingFolderText));
    EXPECT_EQ(lines.back(), "✅ Exported 0 recordings");
    EXPECT_EQ(fileNames(libraryFolder()), before);
    EXPECT_EQ(testsupport::readFile(libraryFolder() / "2025-01-31_1430_Standup.m4a"), audio);

    exporter->setExportFolderURL(root() / "missing");
    exportAll(*exporter);
    EXPECT_EQ(exporter->exportError(), QStringLiteral("Failed to access export folder"));
}

TEST_F(FolderExportManagerTest, AFailedCopyLeavesTheEarlierExportIntact)
{
    auto exporter = makeExporter();
    exporter->selectExportFolder(exportFolder());
    exportAll(*exporter);
    EXPECT_FALSE(exporter->exportError());
    const std::string earlier = testsupport::readFile(exportFolder() / "2025-01-31_1430_Standup.m4a");
    const std::string earlierSidecar = testsupport::readFile(exportFolder() / "2025-01-31_1430_Standup.json");

    // The library's copy goes; the next export of it fails and keeps what the folder holds.
    std::filesystem::remove(libraryFolder() / "2025-01-31_1430_Standup.m4a");
    library_->updateTitle(library_->recordings()[1], QStringLiteral("Standup, retitled"));
    CapturedConsole console;
    exportAll(*exporter);
    const auto lines = console.lines();
    ASSERT_TRUE(exporter->exportError());
    EXPECT_THAT(exporter->exportError()->toStdString(), StartsWith("Export failed: "));
    EXPECT_THAT(exporter->exportError()->toStdString(), HasSubstr("2025-01-31_1430_Standup.m4a"));
    EXPECT_EQ(testsupport::readFile(exportFolder() / "2025-01-31_1430_Standup.m4a"), earlier);
    EXPECT_EQ(testsupport::readFile(exportFolder() / "2025-01-31_1430_Standup.json"), earlierSidecar);
    EXPECT_EQ(fileNames(exportFolder()).size(), 4u);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("❌ Export failed: ", 0) == 0;
    }));
    EXPECT_TRUE(contains(lines, "✅ Exported: Ideas"));
    EXPECT_EQ(lines.back(), "✅ Exported 1 recordings");

    // A recording whose audio lies elsewhere is not copied.
    const auto outside = root() / "outside";
    writeAudio(outside / "victim.m4a");
    Recording hostile = library_->recordings()[0];
    hostile.audioURL = outside / "victim.m4a";
    run([&](FolderExportManager::Completion completion) { exporter->exportRecording(hostile, std::move(completion)); });
    EXPECT_THAT(exporter->exportError()->toStdString(), StartsWith("Export failed: The audio file is not in the recordings folder"));
    EXPECT_FALSE(std::filesystem::exists(exportFolder() / "victim.m4a"));

    // An audio file whose name holds ".m4a" twice keeps its first one in the sidecar's name.
    writeAudio(libraryFolder() / "take.m4a.m4a");
    const Recording doubled = library_->saveRecording({libraryFolder() / "take.m4a.m4a", {}, 1, QStringLiteral("Twice")});
    run([&](FolderExportManager::Completion completion) { exporter->exportRecording(doubled, std::move(completion)); });
    EXPECT_TRUE(std::filesystem::exists(exportFolder() / "take.m4a.json"));
    EXPECT_TRUE(std::filesystem::exists(exportFolder() / "take.m4a.m4a"));
    // That export succeeded whole, so the earlier error is gone.
    EXPECT_FALSE(exporter->exportError());
}
