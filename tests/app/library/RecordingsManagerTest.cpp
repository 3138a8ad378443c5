#include "LibraryFixture.hpp"

#include "app/library/RecordingsListModel.hpp"
#include "platform/system/AtomicFileWriter.hpp"

#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <gmock/gmock.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace parlino;
using namespace librarytest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class RecordingsManagerTest : public LibraryFixture {};

Recording sidecarRecording(const std::filesystem::path& audioURL, const QString& title, const QDateTime& date)
{
    Recording recording;
    recording.id = QUuid::createUuid();
    recording.audioURL = audioURL;
    recording.title = title;
    recording.transcription = QStringLiteral("Some words");
    recording.duration = 0.5;
    recording.date = date;
    recording.category = RecordingCategory::idea;
    return recording;
}

void writeSidecar(const Recording& recording, const std::filesystem::path& path)
{
    testsupport::writeFile(path, encodeRecording(recording).toStdString());
}

QStringList titles(const LibraryService& library)
{
    QStringList titles;
    for (const Recording& recording : library.recordings()) {
        titles.append(recording.title);
    }
    return titles;
}

// Answers each upload and sync on the next turn of the event loop, as a real store would.
class FakeCloudSync : public CloudSync {
public:
    std::vector<Recording> uploads;
    std::optional<std::string> uploadFailure;
    std::vector<Recording> downloads;

    bool isAvailable() const override { return true; }

    void uploadRecording(const Recording& recording, UploadCompletion completion) override
    {
        uploads.push_back(recording);
        QTimer::singleShot(0, [failure = uploadFailure, completion] {
            completion(failure ? std::make_exception_ptr(std::runtime_error(*failure)) : nullptr, UploadOutcome::uploaded);
        });
    }

    void performFullSync(const QList<Recording>&, QPointer<RecordingsManager> library, Completion completion) override
    {
        QTimer::singleShot(0, [this, library, completion] {
            if (library) {
                std::vector<RecordingsManager::DownloadedRecording> batch;
                for (const Recording& recording : downloads) {
                    batch.push_back({recording});
                }
                library->appendDownloadedRecordings(batch);
            }
            completion(nullptr);
        });
    }
};

} // namespace

TEST_F(RecordingsManagerTest, LoadsSidecarsAndOrphansNewestFirst)
{
    const auto folder = libraryFolder();
    auto library = makeLibrary();
    EXPECT_EQ(library->documentsURL(), folder);
    ASSERT_TRUE(std::filesystem::is_directory(folder));

    writeAudio(folder / "2025-01-31_1430_Team-sync.m4a");
    writeAudio(folder / "2024-06-01_0900_Project-meeting-notes.m4a");
    writeAudio(folder / "2025-02-02_0800.m4a");
    writeAudio(folder / "memo.m4a");
    writeAudio(folder / "2025-03-01_1000_Saved.m4a");
    const Recording saved = sidecarRecording(folder / "2025-03-01_1000_Saved.m4a", QStringLiteral("Saved one"),
                                             QDateTime(QDate(2025, 3, 1), QTime(10, 0), Qt::UTC));
    writeSidecar(saved, folder / "2025-03-01_1000_Saved.json");
    // Still being written, or not audio of the library's kind.
    writeAudio(folder / ".recording_2025-04-01T10:00:00Z.m4a");
    writeAudio(folder / "download.m4a.part");
    writeAudio(folder / "LOUD.M4A");
    testsupport::writeFile(folder / "notes.txt", "text");

    CapturedConsole console;
    QSignalSpy loading(library.get(), &RecordingsManager::isLoadingChanged);
    library->loadRecordings();
    const auto lines = console.lines();

    EXPECT_EQ(loading.count(), 2);
    EXPECT_FALSE(library->isLoading());
    EXPECT_FALSE(library->error());
    EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("Voice Memo"), QStringLiteral("Saved one"),
                                              QStringLiteral("Voice Memo"), QStringLiteral("Team sync"),
                                              QStringLiteral("Project meeting notes")}));
    const QList<Recording>& list = library->recordings();
    EXPECT_EQ(list[0].audioURL, folder / "memo.m4a");
    EXPECT_EQ(list[1].id, saved.id);
    EXPECT_EQ(list[1].transcription, QStringLiteral("Some words"));
    EXPECT_EQ(list[1].category, RecordingCategory::idea);
    EXPECT_EQ(list[2].date, QDateTime(QDate(2025, 2, 2), QTime(8, 0)));
    EXPECT_EQ(list[3].date, QDateTime(QDate(2025, 1, 31), QTime(14, 30)));
    EXPECT_EQ(list[3].category, RecordingCategory::personal);
    EXPECT_TRUE(list[3].transcription.isEmpty());
    // Fragmented AAC files also hold the encoder's priming and padding frames (at most 2048).
    EXPECT_NEAR(list[3].duration, 0.5, 0.15);
    EXPECT_EQ(list[4].category, RecordingCategory::meeting);
    // A file without a date in its name is dated by its birth.
    EXPECT_LE(std::abs(list[0].date.secsTo(QDateTime::currentDateTime())), 60);

    const Recording teamSync = readSidecar(folder / "2025-01-31_1430_Team-sync.json");
    EXPECT_EQ(teamSync.id, list[3].id);
    EXPECT_EQ(teamSync.title, QStringLiteral("Team sync"));
    EXPECT_FALSE(std::filesystem::exists(folder / ".recording_2025-04-01T10:00:00Z.json"));
    EXPECT_FALSE(std::filesystem::exists(folder / "download.m4a.json"));

    EXPECT_TRUE(contains(lines, "📂 Found 5 audio files"));
    EXPECT_TRUE(contains(lines, "✅ Loaded: Saved one"));
    EXPECT_TRUE(contains(lines, "📝 Created metadata: Team sync"));
    EXPECT_TRUE(contains(lines, "✅ Loaded 5 recordings"));
    EXPECT_TRUE(contains(lines, "  - Voice Memo (memo.m4a)"));

    // The next load reads the sidecars it made and gives the same recordings.
    const QList<Recording> before = library->recordings();
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), before.size());
    for (qsizetype index = 0; index < before.size(); ++index) {
        EXPECT_EQ(library->recordings()[index].id, before[index].id);
    }

    RecordingsListModel model(*library);
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.data(model.index(1)).toString(), QStringLiteral("Saved one"));
    EXPECT_EQ(model.data(model.index(1), RecordingsListModel::CategoryRole).toString(), QStringLiteral("Idea"));
    EXPECT_EQ(model.data(model.index(1), RecordingsListModel::IdRole).toUuid(), saved.id);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    library->deleteRecording(library->recordings()[0]);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rowCount(), 4);
}

TEST_F(RecordingsManagerTest, AFolderThatCannotBeListedKeepsTheListAndPublishesTheError)
{
    auto library = makeLibrary();
    writeAudio(libraryFolder() / "2025-01-31_1430_Kept.m4a");
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 1);

    std::filesystem::rename(libraryFolder(), root() / "moved");
    testsupport::writeFile(libraryFolder(), "not a folder");
    CapturedConsole console;
    library->loadRecordings();
    const auto lines = console.lines();
    ASSERT_TRUE(library->error());
    EXPECT_EQ(library->error()->errorCase(), RecordingsError::loadFailed);
    EXPECT_EQ(library->recordings().size(), 1);
    EXPECT_FALSE(library->isLoading());
    ASSERT_FALSE(lines.empty());
    EXPECT_THAT(lines.front(), HasSubstr("❌ Failed to load recordings: "));
}

TEST_F(RecordingsManagerTest, SavesEditsAndDeletes)
{
    const auto folder = libraryFolder();
    auto library = makeLibrary();
    auto cloud = std::make_shared<FakeCloudSync>();
    EXPECT_FALSE(library->canSyncWithCloud()) << "no cloud store, nothing to sync with";
    library->setCloudSync(cloud);
    EXPECT_TRUE(library->canSyncWithCloud());
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    std::atomic<int> titlesOnMainThread {0};
    library->setTitleGenerator([&](const QString&) {
        titlesOnMainThread += QThread::currentThreadId() == mainThread;
        return QStringLiteral("Budget review");
    });
    QSignalSpy titleUpdates(library.get(), &RecordingsManager::titleUpdateFinished);

    writeAudio(folder / "2025-05-05_1200_Old.m4a");
    library->loadRecordings();

    // Without audio nothing is saved.
    EXPECT_THROW(
        {
            try {
                library->saveRecording(RecordingResult {std::nullopt, QStringLiteral("text"), 2, std::nullopt});
            } catch (const RecordingsError& error) {
                EXPECT_EQ(error.errorCase(), RecordingsError::invalidAudioFile);
                EXPECT_STREQ(error.what(), "Invalid audio file");
                throw;
            }
        },
        RecordingsError);
    writeAudio(root() / "elsewhere" / "outside.m4a");
    EXPECT_THROW(library->saveRecording({root() / "elsewhere" / "outside.m4a", {}, 2, {}}), RecordingsError);
    testsupport::writeFile(folder / "garbage.m4a", "not audio at all");
    EXPECT_ANY_THROW(library->saveRecording({folder / "garbage.m4a", {}, 0, {}}));
    EXPECT_FALSE(std::filesystem::exists(folder / "garbage.json"));
    EXPECT_EQ(library->recordings().size(), 1);
    EXPECT_FALSE(library->latestSavedRecordingID());

    writeAudio(folder / "2025-05-05_1300_Call.m4a", 0.75);
    CapturedConsole console;
    QSignalSpy latest(library.get(), &LibraryService::latestSavedRecordingIDChanged);
    const Recording saved = library->saveRecording(
        {folder / "2025-05-05_1300_Call.m4a", QStringLiteral("We should call the client"), 0, QStringLiteral("Client call")});
    ASSERT_EQ(library->recordings().size(), 2);
    EXPECT_EQ(library->recordings().front().id, saved.id);
    EXPECT_EQ(library->latestSavedRecordingID(), saved.id);
    EXPECT_EQ(latest.count(), 1);
    EXPECT_EQ(saved.category, RecordingCategory::meeting);
    EXPECT_NEAR(saved.duration, 0.75, 0.15);
    const Recording written = readSidecar(folder / "2025-05-05_1300_Call.json");
    EXPECT_EQ(written.id, saved.id);
    EXPECT_EQ(written.transcription, QStringLiteral("We should call the client"));

    writeAudio(folder / "plain.m4a");
    cloud->uploadFailure = "Quota exceeded";
    const Recording untitled = library->saveRecording({folder / "plain.m4a", {}, 3.5, {}});
    EXPECT_EQ(untitled.title, QStringLiteral("Voice Memo"));
    EXPECT_DOUBLE_EQ(untitled.duration, 3.5);
    ASSERT_EQ(cloud->uploads.size(), 2u);
    EXPECT_EQ(cloud->uploads[0].id, saved.id);

    library->updateTitle(saved, QStringLiteral("Renamed"));
    EXPECT_EQ(readSidecar(folder / "2025-05-05_1300_Call.json").title, QStringLiteral("Renamed"));
    library->updateCategory(saved, RecordingCategory::task);
    EXPECT_EQ(readSidecar(folder / "2025-05-05_1300_Call.json").category, RecordingCategory::task);
    EXPECT_EQ(library->recording(saved.id)->title, QStringLiteral("Renamed"));
    Recording stranger = saved;
    stranger.id = QUuid::createUuid();
    library->updateTitle(stranger, QStringLiteral("Nobody"));
    EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("Voice Memo"), QStringLiteral("Renamed"), QStringLiteral("Old")}));

    const QString transcript = QStringLiteral("Čaká nás rozpočet na budúci rok a jeho prehľad, ktorý pripravíme do piatku");
    library->updateTranscription(saved, transcript);
    EXPECT_EQ(library->recording(saved.id)->transcription, transcript);
    EXPECT_EQ(readSidecar(folder / "2025-05-05_1300_Call.json").transcription, QStringLiteral("We should call the client"));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return titleUpdates.count() == 1; }));
    // The title the user typed stays; the sidecar takes the new transcript.
    EXPECT_EQ(library->recording(saved.id)->title, QStringLiteral("Renamed"));
    const Recording retitled = readSidecar(folder / "2025-05-05_1300_Call.json");
    EXPECT_EQ(retitled.title, QStringLiteral("Renamed"));
    EXPECT_EQ(retitled.transcription, transcript);
    EXPECT_EQ(retitled.category, RecordingCategory::task);

    // A transcript edit whose recording is deleted before its title arrives writes nothing.
    library->updateTranscription(untitled, QStringLiteral("Short"));
    library->deleteRecording(untitled);
    EXPECT_FALSE(std::filesystem::exists(folder / "plain.m4a"));
    EXPECT_FALSE(std::filesystem::exists(folder / "plain.json"));

    // Audio that is already gone does not keep its entry alive.
    std::filesystem::remove(folder / "2025-05-05_1300_Call.m4a");
    library->deleteRecording(saved);
    EXPECT_FALSE(std::filesystem::exists(folder / "2025-05-05_1300_Call.json"));
    EXPECT_EQ(titles(*library), QStringList {QStringLiteral("Old")});

    ASSERT_TRUE(testsupport::processEventsUntil([&] { return titleUpdates.count() == 2; }));
    EXPECT_EQ(titlesOnMainThread, 0);
    const auto lines = console.lines();
    EXPECT_TRUE(contains(lines, "✅ Saved recording: Client call"));
    EXPECT_TRUE(contains(lines, "☁️ Uploaded to iCloud: Client call"));
    EXPECT_TRUE(contains(lines, "⚠️ CloudKit upload failed: Quota exceeded"));
    EXPECT_FALSE(contains(lines, "☁️ Uploaded to iCloud: Voice Memo"));
    EXPECT_TRUE(contains(lines, "📝 Updated title: Renamed"));
    EXPECT_TRUE(contains(lines, "📝 Updated category: Client call → Task"));
    EXPECT_FALSE(contains(lines, "📝 Updated title: Nobody"));
    EXPECT_TRUE(contains(lines, "📝 Updating transcription at index 1"));
    EXPECT_TRUE(contains(lines, "   Old: We should call the client..."));
    EXPECT_TRUE(contains(lines, "   New: Čaká nás rozpočet na budúci rok a jeho prehľad, kt..."));
    EXPECT_TRUE(contains(lines, "🏷️ Generated new title: Budget review"));
    EXPECT_TRUE(contains(lines, "   Title kept (typed by the user): Renamed"));
    EXPECT_FALSE(contains(lines, "✅ Title updated to: Budget review"));
    EXPECT_TRUE(contains(lines, "💾 Metadata saved successfully"));
    EXPECT_TRUE(contains(lines, "📝 Update complete! Transcription: 74 chars, Title: Budget review"));
    EXPECT_TRUE(contains(lines, "⚠️ Recording was deleted before title update completed"));
    EXPECT_TRUE(contains(lines, "🗑️ Deleted: Client call"));
}

TEST_F(RecordingsManagerTest, ReTitlingReplacesOnlyTitlesTheProgramMadeAlsoAfterARelaunch)
{
    const auto folder = libraryFolder();
    const auto generator = [](const QString& transcript) { return QStringLiteral("About ") + transcript.section(' ', 0, 0); };
    const auto retitle = [&](RecordingsManager& library, const QString& title, const QString& transcript) {
        QSignalSpy finished(&library, &RecordingsManager::titleUpdateFinished);
        const auto found = std::find_if(library.recordings().begin(), library.recordings().end(),
                                        [&](const Recording& recording) { return recording.title == title; });
        EXPECT_NE(found, library.recordings().end()) << title.toStdString();
        const QUuid id = found->id;
        library.updateTranscription(*found, transcript);
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return finished.count() == 1; }));
        return library.recording(id).value_or(Recording {}).title;
    };

    writeAudio(folder / "2025-05-05_1300_Call.m4a");
    writeAudio(folder / "2025-05-05_1400_Weekly_plan.m4a");
    writeAudio(folder / "2025-05-05_1500_Notes.m4a");
    writeAudio(folder / "untitled.m4a");
    writeAudio(folder / "2025-01-31_1430_Team-sync.m4a");
    {
        auto library = makeLibrary();
        library->setTitleGenerator(generator);
        library->saveRecording({folder / "2025-05-05_1300_Call.m4a", QStringLiteral("budget first"), 1, QStringLiteral("Client call")});
        library->saveRecording({folder / "2025-05-05_1400_Weekly_plan.m4a", QStringLiteral("plan"), 1, QStringLiteral("Weekly plan")});
        const Recording notes = library->saveRecording({folder / "2025-05-05_1500_Notes.m4a", QStringLiteral("notes"), 1, QStringLiteral("Notes")});
        library->saveRecording({folder / "untitled.m4a", {}, 1, {}});
        library->updateTitle(notes, QStringLiteral("My own words"));

        // The recorder's title goes, the typed one stays and the sidecar still takes the transcript.
        EXPECT_EQ(retitle(*library, QStringLiteral("Client call"), QStringLiteral("budget again")), QStringLiteral("About budget"));
        EXPECT_EQ(retitle(*library, QStringLiteral("My own words"), QStringLiteral("shopping list")), QStringLiteral("My own words"));
        EXPECT_EQ(readSidecar(folder / "2025-05-05_1500_Notes.json").transcription, QStringLiteral("shopping list"));
        EXPECT_EQ(readSidecar(folder / "2025-05-05_1500_Notes.json").title, QStringLiteral("My own words"));
    }

    // A new run knows no history: the title made from the old transcript, the file's own title and
    // the fallback count as the program's, anything else as typed.
    auto library = makeLibrary();
    library->setTitleGenerator(generator);
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 5);
    EXPECT_EQ(retitle(*library, QStringLiteral("About budget"), QStringLiteral("travel plans")), QStringLiteral("About travel"));
    EXPECT_EQ(retitle(*library, QStringLiteral("Weekly plan"), QStringLiteral("groceries")), QStringLiteral("About groceries"));
    EXPECT_EQ(retitle(*library, QStringLiteral("Voice Memo"), QStringLiteral("ideas")), QStringLiteral("About ideas"));
    EXPECT_EQ(retitle(*library, QStringLiteral("Team sync"), QStringLiteral("standup")), QStringLiteral("About standup"));
    EXPECT_EQ(retitle(*library, QStringLiteral("My own words"), QStringLiteral("errands")), QStringLiteral("My own words"));
    EXPECT_EQ(readSidecar(folder / "2025-05-05_1500_Notes.json").title, QStringLiteral("My own words"));
    EXPECT_EQ(readSidecar(folder / "2025-05-05_1500_Notes.json").transcription, QStringLiteral("errands"));
}

TEST_F(RecordingsManagerTest, AnOrphanWhoseSidecarCannotBeWrittenKeepsItsId)
{
    // The sidecar's name is one byte longer than the longest name a folder takes.
    const std::string name = "2025-01-31_1430_" + std::string(255 - 16 - 4, 'x') + ".m4a";
    writeAudio(libraryFolder() / name);
    auto library = makeLibrary();

    CapturedConsole console;
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 1);
    const QUuid first = library->recordings()[0].id;
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 1);
    EXPECT_EQ(library->recordings()[0].id, first);
    EXPECT_EQ(fileNames(libraryFolder()), std::vector<std::string> {name});
    const QString title = library->recordings()[0].title;
    // An edit that cannot be kept is not shown as if it were.
    EXPECT_THROW(library->updateTitle(library->recordings()[0], QStringLiteral("Shorter")), std::exception);
    EXPECT_EQ(library->recordings()[0].title, title);

    const auto lines = console.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind("⚠️ Failed to load " + name + ": ", 0) == 0; }),
              2);
}

TEST_F(RecordingsManagerTest, ACrashBeforeTheSidecarIsRenamedLeavesTheOldOneReadable)
{
    const auto folder = libraryFolder();
    auto library = makeLibrary();
    writeAudio(folder / "2025-01-31_1430_Keep.m4a");
    const Recording saved = library->saveRecording({folder / "2025-01-31_1430_Keep.m4a", QStringLiteral("First words"), 0.5,
                                                    QStringLiteral("Original title")});
    const std::string before = testsupport::readFile(folder / "2025-01-31_1430_Keep.json");

    Recording changed = saved;
    changed.title = QStringLiteral("Half written");
    const std::string after = encodeRecording(changed).toStdString();
    // The child dies after writing the new contents and before putting them in place.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::AtomicFileWriter writer(folder / "2025-01-31_1430_Keep.json");
        writer.write(std::string_view(after).substr(0, after.size() / 2));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));

    EXPECT_EQ(testsupport::readFile(folder / "2025-01-31_1430_Keep.json"), before);
    const auto names = fileNames(folder);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].front(), '.');

    auto relaunched = makeLibrary();
    relaunched->loadRecordings();
    ASSERT_EQ(relaunched->recordings().size(), 1);
    EXPECT_EQ(relaunched->recordings()[0].id, saved.id);
    EXPECT_EQ(relaunched->recordings()[0].title, QStringLiteral("Original title"));
    relaunched->updateTitle(saved, QStringLiteral("Second title"));
    EXPECT_EQ(readSidecar(folder / "2025-01-31_1430_Keep.json").title, QStringLiteral("Second title"));
}

TEST_F(RecordingsManagerTest, HostileSidecarsTouchNothingOutsideTheFolder)
{
    const auto folder = libraryFolder();
    const auto outside = root() / "outside";
    writeAudio(outside / "victim.m4a");
    testsupport::writeFile(outside / "victim.json", "the victim's own sidecar");
    auto library = makeLibrary();

    const QDateTime date(QDate(2025, 1, 1), QTime(9, 0), Qt::UTC);
    writeAudio(folder / "crafted.m4a");
    writeSidecar(sidecarRecording(outside / "victim.m4a", QStringLiteral("Crafted"), date), folder / "crafted.json");
    writeAudio(folder / "dotted.m4a");
    writeSidecar(sidecarRecording(folder / ".." / ".." / "outside" / "victim.m4a", QStringLiteral("Dotted"), date),
                 folder / "dotted.json");
    std::filesystem::create_symlink(outside, folder / "link");
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 2);
    for (const Recording& recording : library->recordings()) {
        EXPECT_EQ(recording.audioURL.parent_path(), folder);
    }

    // Recordings handed in with audio elsewhere are refused before any file is touched.
    for (const std::filesystem::path& audio : {outside / "victim.m4a", folder / ".." / ".." / "outside" / "victim.m4a",
                                               folder / "link" / "victim.m4a", std::filesystem::path("victim.m4a"),
                                               folder / "crafted.json"}) {
        Recording hostile = library->recordings()[0];
        hostile.audioURL = audio;
        try {
            library->deleteRecording(hostile);
            ADD_FAILURE() << "deleted " << audio;
        } catch (const RecordingsError& error) {
            EXPECT_EQ(error.errorCase(), RecordingsError::deleteFailed);
        }
        EXPECT_FALSE(library->appendDownloadedRecording(hostile));
        EXPECT_THROW(library->saveRecording({audio, {}, 1, {}}), RecordingsError);
    }
    EXPECT_EQ(library->recordings().size(), 2);

    library->updateTitle(library->recordings()[0], QStringLiteral("Retitled"));
    while (!library->recordings().isEmpty()) {
        library->deleteRecording(library->recordings()[0]);
    }
    EXPECT_EQ(fileNames(outside), (std::vector<std::string> {"victim.json", "victim.m4a"}));
    EXPECT_EQ(testsupport::readFile(outside / "victim.json"), "the victim's own sidecar");
    EXPECT_EQ(fileNames(folder), std::vector<std::string> {"link"});
}

TEST_F(RecordingsManagerTest, SyncsThroughItsCloudSeam)
{
    const auto folder = libraryFolder();
    auto library = makeLibrary();
    writeAudio(folder / "2025-01-31_1430_Local.m4a");
    library->loadRecordings();

    int completions = 0;
    {
        CapturedConsole console;
        library->syncWithCloud([&] { ++completions; });
        EXPECT_EQ(completions, 0);
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return completions == 1; }));
        EXPECT_THAT(console.lines(), ElementsAre("🔄 Starting CloudKit sync...", "✅ CloudKit sync complete"));
    }

    auto cloud = std::make_shared<FakeCloudSync>();
    writeAudio(folder / "downloaded.m4a");
    cloud->downloads.push_back(sidecarRecording(folder / "downloaded.m4a", QStringLiteral("From the cloud"),
                                                QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC)));
    cloud->downloads.push_back(sidecarRecording(root() / "elsewhere.m4a", QStringLiteral("Misplaced"),
                                                QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC)));
    library->setCloudSync(cloud);
    library->syncWithCloud([&] { ++completions; });
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return completions == 2; }));
    EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("From the cloud"), QStringLiteral("Local")}));
    EXPECT_EQ(readSidecar(folder / "downloaded.json").title, QStringLiteral("From the cloud"));

    // A batch goes in with one change, each where appending and sorting would put it: after the
    // listed ones of its date, in the order given; ids already listed or repeated come in once.
    const auto at = [](int hour) { return QDateTime(QDate(2026, 1, 1), QTime(hour, 0), Qt::UTC); };
    std::vector<RecordingsManager::DownloadedRecording> batch;
    for (const auto& [name, hour] : std::vector<std::pair<QString, int>> {
             {QStringLiteral("Newest"), 12}, {QStringLiteral("Tie one"), 8}, {QStringLiteral("Oldest"), 1},
             {QStringLiteral("Tie two"), 8}}) {
        writeAudio(folder / (name.toStdString() + ".m4a"));
        batch.push_back({sidecarRecording(folder / (name.toStdString() + ".m4a"), name, at(hour)),
                         RecordingsManager::DownloadedSidecar::written});
    }
    batch.push_back({library->recordings()[0]});
    batch.push_back(batch[0]);
    QSignalSpy changes(library.get(), &LibraryService::recordingsChanged);
    const QList<Recording> added = library->appendDownloadedRecordings(batch);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(added.size(), 4);
    EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("Newest"), QStringLiteral("From the cloud"),
                                              QStringLiteral("Tie one"), QStringLiteral("Tie two"),
                                              QStringLiteral("Oldest"), QStringLiteral("Local")}));
    // The sync wrote these sidecars itself.
    EXPECT_FALSE(std::filesystem::exists(folder / "Newest.json"));
    for (qsizetype index = 0; index < library->recordings().size(); ++index) {
        EXPECT_EQ(library->indexOf(library->recordings()[index].id), index);
    }
    library->sortRecordingsNewestFirst();
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(library->appendDownloadedRecordings(batch).isEmpty());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(RecordingsManagerTest, SidecarsItCannotUseAreSetAsideAndEveryRecordingIsListed)
{
    const auto folder = libraryFolder();
    auto library = makeLibrary();
    const QDateTime date(QDate(2025, 1, 1), QTime(9, 0), Qt::UTC);
    const std::string valid = encodeRecording(sidecarRecording(folder / "x.m4a", QStringLiteral("Whole"), date)).toStdString();
    std::string yearZero = valid;
    yearZero.replace(yearZero.find("\"2025-01-01T09:00:00Z\""), 22, "\"0000-01-01T09:00:00Z\"");
    std::string nilId = valid;
    nilId.replace(7, 36, "00000000-0000-0000-0000-000000000000");
    std::string durationText = valid;
    durationText.replace(durationText.find("\"duration\":0.5"), 14, "\"duration\":\"0.5\"");
    std::string negative = valid;
    negative.replace(negative.find("\"duration\":0.5"), 14, "\"duration\":-3");

    const std::vector<std::pair<std::string, std::string>> damaged {
        {"2025-02-01_1000_Empty", ""},
        {"2025-02-02_1000_Truncated", valid.substr(0, valid.size() / 2)},
        {"2025-02-03_1000_Year-zero", yearZero},
        {"2025-02-04_1000_Nil-id", nilId},
        {"2025-02-05_1000_Duration-text", durationText},
        {"2025-02-06_1000_Negative", negative},
    };
    for (const auto& [name, json] : damaged) {
        writeAudio(folder / (name + ".m4a"));
        testsupport::writeFile(folder / (name + ".json"), json);
    }
    // A FIFO would hold a plain open until a writer came; a folder cannot be read at all.
    writeAudio(folder / "2025-02-07_1000_Fifo.m4a");
    ASSERT_EQ(::mkfifo((folder / "2025-02-07_1000_Fifo.json").c_str(), 0600), 0);
    writeAudio(folder / "2025-02-08_1000_Folder.m4a");
    std::filesystem::create_directory(folder / "2025-02-08_1000_Folder.json");
    // A sidecar beyond any recording's description is not even parsed.
    Recording huge = sidecarRecording(folder / "2025-02-09_1000_Oversized.m4a", QStringLiteral("Huge"), date);
    huge.transcription = QString(static_cast<qsizetype>(FolderScan::largestSidecar), QLatin1Char('w'));
    writeAudio(huge.audioURL);
    writeSidecar(huge, folder / "2025-02-09_1000_Oversized.json");
    const auto hugeSize = std::filesystem::file_size(folder / "2025-02-09_1000_Oversized.json");
    huge = {};
    // An earlier set-aside sidecar is never replaced.
    testsupport::writeFile(folder / "2025-02-01_1000_Empty.json.damaged", "the first damaged one");
    writeAudio(folder / "2025-01-31_1430_Whole.m4a");
    writeSidecar(sidecarRecording(folder / "2025-01-31_1430_Whole.m4a", QStringLiteral("Whole"), date),
                 folder / "2025-01-31_1430_Whole.json");

    CapturedConsole console;
    library->loadRecordings();
    const auto lines = console.lines();
    EXPECT_EQ(titles(*library),
              (QStringList {QStringLiteral("Oversized"), QStringLiteral("Folder"), QStringLiteral("Fifo"), QStringLiteral("Negative"),
                            QStringLiteral("Duration text"), QStringLiteral("Nil id"), QStringLiteral("Year zero"),
                            QStringLiteral("Truncated"), QStringLiteral("Empty"), QStringLiteral("Whole")}));
    for (const Recording& recording : library->recordings()) {
        EXPECT_NEAR(recording.duration, 0.5, 0.07) << recording.title.toStdString();
        // Each has a usable sidecar of its own now.
        EXPECT_EQ(readSidecar(LibraryFolder::sidecarURL(recording.audioURL)).id, recording.id);
    }
    for (const auto& [name, json] : damaged) {
        const std::string aside = name == "2025-02-01_1000_Empty" ? ".json.damaged-2" : ".json.damaged";
        EXPECT_EQ(testsupport::readFile(folder / (name + aside)), json) << name;
    }
    EXPECT_EQ(testsupport::readFile(folder / "2025-02-01_1000_Empty.json.damaged"), "the first damaged one");
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "2025-02-07_1000_Fifo.json.damaged"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "2025-02-08_1000_Folder.json.damaged"));
    EXPECT_EQ(std::filesystem::file_size(folder / "2025-02-09_1000_Oversized.json.damaged"), hugeSize);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("⚠️ Unusable sidecar 2025-02-09_1000_Oversized.json (larger than");
    }));
    EXPECT_TRUE(contains(lines, "⚠️ Unusable sidecar 2025-02-07_1000_Fifo.json (not a regular file), set aside as "
                                "2025-02-07_1000_Fifo.json.damaged"));
    EXPECT_TRUE(contains(lines, "📝 Created metadata: Year zero"));

    // The next load finds nothing more to set aside and lists the same recordings.
    const QList<Recording> first = library->recordings();
    const std::vector<std::string> files = fileNames(folder);
    auto relaunched = makeLibrary();
    relaunched->loadRecordings();
    ASSERT_EQ(relaunched->recordings().size(), first.size());
    for (qsizetype index = 0; index < first.size(); ++index) {
        EXPECT_EQ(relaunched->recordings()[index].id, first[index].id);
    }
    EXPECT_EQ(fileNames(folder), files);
}

TEST_F(RecordingsManagerTest, ANameThatIsNoUtf8KeepsItsBytesThroughLoadsEditsAndTheCloud)
{
    const auto folder = libraryFolder();
    const std::filesystem::path audio = folder / "2025-01-31_1430_bad\xff\xfe-name.m4a";
    const std::filesystem::path sidecar = folder / "2025-01-31_1430_bad\xff\xfe-name.json";
    writeAudio(audio);
    auto cloud = std::make_shared<FakeCloudSync>();
    auto library = makeLibrary();
    library->setCloudSync(cloud);

    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 1);
    const Recording found = library->recordings()[0];
    EXPECT_EQ(found.audioURL.native(), audio.native());
    // The sidecar lies beside its audio and names it byte for byte.
    EXPECT_EQ(fileNames(folder), (std::vector<std::string> {sidecar.filename(), audio.filename()}));
    EXPECT_EQ(readSidecar(sidecar).audioURL.native(), audio.native());

    writeAudio(folder / "saved\xc0.m4a");
    const Recording saved = library->saveRecording({folder / "saved\xc0.m4a", QStringLiteral("Words"), 0.5, {}});
    ASSERT_EQ(cloud->uploads.size(), 1u);
    EXPECT_EQ(cloud->uploads[0].audioURL.native(), (folder / "saved\xc0.m4a").native());

    // A second launch finds both by their sidecars, under the same ids, and the cloud's copies of
    // them are not taken for new recordings.
    auto relaunched = makeLibrary();
    relaunched->setCloudSync(cloud);
    relaunched->loadRecordings();
    ASSERT_EQ(relaunched->recordings().size(), 2);
    cloud->downloads = {found, saved};
    bool synced = false;
    relaunched->syncWithCloud([&] { synced = true; });
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return synced; }));
    ASSERT_EQ(relaunched->recordings().size(), 2);
    for (const Recording& recording : relaunched->recordings()) {
        EXPECT_TRUE(recording.id == found.id || recording.id == saved.id);
    }

    relaunched->updateTitle(found, QStringLiteral("Renamed"));
    EXPECT_EQ(readSidecar(sidecar).title, QStringLiteral("Renamed"));
    relaunched->deleteRecording(found);
    EXPECT_EQ(fileNames(folder), (std::vector<std::string> {"saved\xc0.json", "saved\xc0.m4a"}));
}

TEST_F(RecordingsManagerTest, ACopiedPairGetsAnIdOfItsOwnAndEditsTouchOnlyTheirRow)
{
    const auto folder = libraryFolder();
    writeAudio(folder / "2025-01-31_1430_Original.m4a");
    const Recording original = sidecarRecording(folder / "2025-01-31_1430_Original.m4a", QStringLiteral("Original"),
                                                QDateTime(QDate(2025, 1, 31), QTime(14, 30), Qt::UTC));
    writeSidecar(original, folder / "2025-01-31_1430_Original.json");
    std::filesystem::copy_file(folder / "2025-01-31_1430_Original.m4a", folder / "2025-01-31_1430_Original-copy.m4a");
    std::filesystem::copy_file(folder / "2025-01-31_1430_Original.json", folder / "2025-01-31_1430_Original-copy.json");

    auto library = makeLibrary();
    library->loadRecordings();
    ASSERT_EQ(library->recordings().size(), 2);
    const auto rowOf = [&](const char* name) {
        const QList<Recording>& list = library->recordings();
        return *std::find_if(list.begin(), list.end(),
                             [&](const Recording& recording) { return recording.audioURL == folder / name; });
    };
    const Recording kept = rowOf("2025-01-31_1430_Original.m4a");
    const Recording copy = rowOf("2025-01-31_1430_Original-copy.m4a");
    EXPECT_EQ(kept.id, original.id);
    EXPECT_NE(copy.id, original.id);
    EXPECT_EQ(copy.title, QStringLiteral("Original"));
    EXPECT_EQ(readSidecar(folder / "2025-01-31_1430_Original-copy.json").id, copy.id);
    EXPECT_EQ(readSidecar(folder / "2025-01-31_1430_Original.json").id, original.id);

    const std::string originalSidecar = testsupport::readFile(folder / "2025-01-31_1430_Original.json");
    library->updateTitle(copy, QStringLiteral("The copy"));
    EXPECT_EQ(testsupport::readFile(folder / "2025-01-31_1430_Original.json"), originalSidecar);
    EXPECT_EQ(readSidecar(folder / "2025-01-31_1430_Original-copy.json").title, QStringLiteral("The copy"));
    EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("The copy"), QStringLiteral("Original")}));

    library->deleteRecording(kept);
    ASSERT_EQ(library->recordings().size(), 1);
    EXPECT_EQ(library->recordings()[0].id, copy.id);
    EXPECT_EQ(fileNames(folder),
              (std::vector<std::string> {"2025-01-31_1430_Original-copy.json", "2025-01-31_1430_Original-copy.m4a"}));

    auto relaunched = makeLibrary();
    relaunched->loadRecordings();
    ASSERT_EQ(relaunched->recordings().size(), 1);
    EXPECT_EQ(relaunched->recordings()[0].id, copy.id);
}

// Opening the list again scans on a worker: an unchanged folder publishes nothing and reads no
// sidecar again; a changed one publishes once, reading only what changed; and an edit made while
// the scan runs is not undone by it.
TEST_F(RecordingsManagerTest, ARefreshReadsOnlyWhatChangedOffTheMainThreadAndUndoesNoEdit)
{
    const auto folder = libraryFolder();
    const QDateTime date(QDate(2025, 1, 1), QTime(9, 0), Qt::UTC);
    std::vector<Recording> written;
    for (const auto* name : {"2025-01-01_0900_One", "2025-01-02_0900_Two", "2025-01-03_0900_Three"}) {
        const std::filesystem::path audio = folder / (std::string(name) + ".m4a");
        writeAudio(audio);
        written.push_back(sidecarRecording(audio, QString::fromLatin1(name).section(QLatin1Char('_'), 2),
            date.addDays(static_cast<qint64>(written.size()))));
        writeSidecar(written.back(), LibraryFolder::sidecarURL(audio));
    }
    auto library = makeLibrary();
    library->loadRecordings();
    ASSERT_EQ(titles(*library), (QStringList {QStringLiteral("Three"), QStringLiteral("Two"), QStringLiteral("One")}));
    QSignalSpy changes(library.get(), &LibraryService::recordingsChanged);
    const auto refreshed = [&] {
        library->refreshRecordings();
        EXPECT_TRUE(library->isLoading());
        return testsupport::processEventsUntil([&] { return !library->isLoading(); }, std::chrono::seconds(30));
    };

    {
        CapturedConsole console;
        ASSERT_TRUE(refreshed());
        const auto lines = console.lines();
        EXPECT_EQ(changes.count(), 0);
        EXPECT_FALSE(contains(lines, "✅ Loaded: One"));
        EXPECT_TRUE(contains(lines, "✅ Loaded 3 recordings"));
    }

    // One sidecar edited elsewhere, one recording gone, one new file without a sidecar.
    Recording edited = written[1];
    edited.title = QStringLiteral("Two edited");
    writeSidecar(edited, LibraryFolder::sidecarURL(edited.audioURL));
    std::filesystem::remove(written[0].audioURL);
    std::filesystem::remove(LibraryFolder::sidecarURL(written[0].audioURL));
    writeAudio(folder / "2025-01-09_0900_Four.m4a");
    {
        CapturedConsole console;
        ASSERT_TRUE(refreshed());
        const auto lines = console.lines();
        EXPECT_EQ(changes.count(), 1);
        EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("Four"), QStringLiteral("Three"), QStringLiteral("Two edited")}));
        EXPECT_TRUE(contains(lines, "✅ Loaded: Two edited"));
        EXPECT_FALSE(contains(lines, "✅ Loaded: Three"));
        EXPECT_TRUE(contains(lines, "📝 Created metadata: Four"));
    }

    // An edit while the scan runs: the scan is made again, and the edit stays, in the list and on disk.
    changes.clear();
    library->refreshRecordings();
    library->refreshRecordings();
    const Recording three = *library->recording(written[2].id);
    library->updateTitle(three, QStringLiteral("Typed"));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !library->isLoading(); }, std::chrono::seconds(30)));
    EXPECT_EQ(library->recording(written[2].id)->title, QStringLiteral("Typed"));
    EXPECT_EQ(readSidecar(LibraryFolder::sidecarURL(written[2].audioURL)).title, QStringLiteral("Typed"));
    EXPECT_EQ(titles(*library), (QStringList {QStringLiteral("Four"), QStringLiteral("Typed"), QStringLiteral("Two edited")}));
}
