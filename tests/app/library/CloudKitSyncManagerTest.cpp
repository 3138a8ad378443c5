#include "CloudSyncFixture.hpp"

#include "support/ScopedEnvironment.hpp"

#include <QSignalSpy>

#include <gmock/gmock.h>

#include <atomic>
#include <pqxx/pqxx>

using namespace parlino;
using namespace cloudsynctest;
using platform::cloud::Record;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

const platform::cloud::RecordZone::ID zoneID {"RecordingsZone"};

std::string sidecarText(const Recording& recording)
{
    return encodeRecording(recording).toStdString();
}

QStringList titles(const LibraryService& library)
{
    QStringList titles;
    for (const Recording& recording : library.recordings()) {
        titles.append(recording.title);
    }
    return titles;
}

// How the other client must have stored what `recording` uploaded: the same sidecar apart from the
// folder it lies in.
std::string sidecarBeside(const std::filesystem::path& folder, Recording recording)
{
    recording.audioURL = folder / (CloudRecordStore::recordName(recording.id) + ".m4a");
    return sidecarText(recording);
}

Record cloudRecord(const std::string& name, const std::string& title, double duration = 1.0,
                   const std::string& category = "Note")
{
    Record record("Recording", Record::ID {name, zoneID});
    record.set("title", title);
    record.set("transcription", std::string("words"));
    record.set("duration", duration);
    record.set("date", Record::Date(std::chrono::seconds(1767258000)));
    record.set("category", category);
    return record;
}

void executeAsSuperuser(const std::string& url, const std::string& sql)
{
    pqxx::connection connection(url);
    pqxx::nontransaction(connection).exec(sql);
}

} // namespace

TEST_F(CloudSyncTest, TwoClientsShareOneAccountThroughFullAndIncrementalSyncs)
{
    auto a = makeClient("a");
    auto b = makeClient("b");
    EXPECT_TRUE(a->manager->cloudKitAvailable());
    EXPECT_THAT(a->log->all(),
                ElementsAre("☁️ CloudKit: Checking entitlements...", "✅ CloudKit: Found iCloud entitlement",
                            "☁️ CloudKit: Entitlements OK, initializing container...",
                            "📦 CloudKit: Using container iCloud.com.OrvandaNote"));
    EXPECT_NE(a->manager->deviceID(), b->manager->deviceID());

    auto mark = a->log->size();
    const Recording first = save(*a, QStringLiteral("Standup"), QStringLiteral("Team meeting about the release"));
    const Recording second = save(*a, QStringLiteral("Groceries"), QStringLiteral("Milk and bread"));
    EXPECT_THAT(a->log->since(mark),
                ElementsAre("☁️ CloudKit: Creating custom zone 'RecordingsZone'...",
                            "✅ CloudKit: Zone created successfully", "✅ Uploaded: " + recordName(first),
                            "✅ Uploaded: " + recordName(second)));
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus {.value = SyncStatus::success});
    EXPECT_TRUE(a->manager->lastSyncDate());
    EXPECT_TRUE(a->defaults->boolValue(CloudKitSyncManager::zoneCreatedKey));
    // The audio travels as a copy that is gone once the upload is over.
    EXPECT_THAT(fileNames(a->temporaryFolder()), IsEmpty());
    const Record stored = database().fetch(Record::ID {recordName(first), zoneID});
    EXPECT_EQ(*stored.get<std::string>("deviceID"), a->manager->deviceID().toStdString());
    EXPECT_EQ(*stored.get<std::string>("category"), "Meeting");
    EXPECT_TRUE(stored.contains("modifiedAt"));

    // Two requests at once make one sync, which both wait for.
    mark = b->log->size();
    int finished = 0;
    b->library->syncWithCloud([&] { ++finished; });
    b->library->syncWithCloud([&] { ++finished; });
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return finished == 2; }));
    EXPECT_THAT(b->log->since(mark),
                ElementsAre("🔄 CloudKit: Full sync starting with 0 local recordings",
                            "☁️ CloudKit: Checking account status...", "✅ CloudKit: iCloud account available",
                            "☁️ CloudKit: Downloading new recordings...",
                            "🔄 CloudKit: Resetting change token for v2 full rescan",
                            "☁️ CloudKit: Fetching via zone changes (mode: full)...",
                            "☁️ CloudKit: Creating custom zone 'RecordingsZone'...",
                            "✅ CloudKit: Zone created successfully", "📥 CloudKit: Synced from cloud: Standup",
                            "📥 CloudKit: Synced from cloud: Groceries", "☁️ CloudKit: Zone changes: 2 Recording records",
                            "✅ CloudKit: Downloaded 2 new recordings", "☁️ CloudKit: Getting cloud record IDs...",
                            "☁️ CloudKit: 2 records in cloud, checking for new uploads...",
                            "✅ CloudKit: Full sync complete (downloaded: 2, uploaded: 0)"));
    EXPECT_EQ(titles(*b->library), (QStringList {QStringLiteral("Groceries"), QStringLiteral("Standup")}));
    for (const Recording& original : {first, second}) {
        const auto audio = b->folder() / (recordName(original) + ".m4a");
        EXPECT_EQ(testsupport::readFile(audio), testsupport::readFile(original.audioURL));
        EXPECT_EQ(testsupport::readFile(LibraryFolder::sidecarURL(audio)),
                  sidecarBeside(b->folder(), readSidecar(LibraryFolder::sidecarURL(original.audioURL))));
    }
    EXPECT_TRUE(b->defaults->boolValue(CloudKitSyncManager::fullRescanDoneKey));
    EXPECT_TRUE(b->manager->loadChangeToken());
    // A later launch reads the same recordings from the folder (saved within one second, their
    // sidecar dates may tie).
    b->library->loadRecordings();
    QStringList reloaded = titles(*b->library);
    reloaded.sort();
    EXPECT_EQ(reloaded, (QStringList {QStringLiteral("Groceries"), QStringLiteral("Standup")}));

    const Recording third = save(*b, QStringLiteral("Idea"), QStringLiteral("Brainstorm for the app"));
    mark = a->log->size();
    sync(*a);
    const auto aFirstSync = a->log->since(mark);
    EXPECT_THAT(aFirstSync, Contains("☁️ CloudKit: Fetching via zone changes (mode: full)..."));
    EXPECT_THAT(aFirstSync, Contains("☁️ CloudKit: Zone changes: 3 Recording records"));
    EXPECT_THAT(aFirstSync, Contains("✅ CloudKit: Full sync complete (downloaded: 1, uploaded: 0)"));
    const auto audio = a->folder() / (recordName(third) + ".m4a");
    EXPECT_EQ(testsupport::readFile(audio), testsupport::readFile(third.audioURL));
    EXPECT_EQ(testsupport::readFile(LibraryFolder::sidecarURL(audio)), sidecarBeside(a->folder(), readSidecar(LibraryFolder::sidecarURL(third.audioURL))));
    EXPECT_EQ(a->library->recordings().size(), 3);

    for (Client* client : {a.get(), b.get()}) {
        mark = client->log->size();
        const auto before = titles(*client->library);
        sync(*client);
        const auto lines = client->log->since(mark);
        EXPECT_THAT(lines, Contains("☁️ CloudKit: Fetching via zone changes (mode: incremental)..."));
        EXPECT_THAT(lines, Contains("✅ CloudKit: Downloaded 0 new recordings"));
        EXPECT_THAT(lines, Contains("☁️ CloudKit: 3 records in cloud, checking for new uploads..."));
        EXPECT_THAT(lines, Contains("✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 0)"));
        EXPECT_EQ(titles(*client->library), before);
    }
    EXPECT_EQ(database().records(platform::cloud::Query {"Recording"}, zoneID).size(), 3u);
}

TEST_F(CloudSyncTest, ConflictsQuotaAndMissingAudioEndAsThePartSays)
{
    auto a = makeClient("a");
    auto b = makeClient("b");
    const Recording saved = save(*a, QStringLiteral("Kept"));
    const auto firstSyncDate = a->manager->lastSyncDate();
    ASSERT_TRUE(firstSyncDate);

    // The same id again: the cloud keeps the first, and the date of the last success stays.
    auto mark = a->log->size();
    Recording edited = saved;
    edited.title = QStringLiteral("Edited");
    EXPECT_FALSE(upload(*a, edited));
    EXPECT_THAT(a->log->since(mark), ElementsAre("☁️ CloudKit: Already in cloud: Edited"));
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus {.value = SyncStatus::success});
    EXPECT_EQ(a->manager->lastSyncDate(), firstSyncDate);
    EXPECT_EQ(*database().fetch(Record::ID {recordName(saved), zoneID}).get<std::string>("title"), "Kept");

    // Audio that is gone fails the upload without a metadata-only retry.
    Recording missing = saved;
    missing.id = QUuid::createUuid();
    missing.audioURL = a->folder() / "gone.m4a";
    mark = a->log->size();
    const std::exception_ptr failure = upload(*a, missing);
    ASSERT_TRUE(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const SyncError& error) {
        EXPECT_EQ(error.errorCase(), SyncError::uploadFailed);
        EXPECT_STREQ(error.what(), "Upload failed: Failed to upload audio file");
    }
    EXPECT_THAT(a->log->since(mark), ElementsAre("❌ Upload failed for Kept: Failed to upload audio file"));
    EXPECT_EQ(a->manager->syncStatus(),
              SyncStatus::failed(SyncError(SyncError::uploadFailed, "Failed to upload audio file")));
    EXPECT_FALSE(a->manager->isSyncing());

    // A tiny quota: the record goes up without its audio.
    const platform::cloud::CloudAdministration administration(configuration());
    administration.setQuota(administration.currentAccount(), 1000);
    mark = a->log->size();
    const Recording big = save(*a, QStringLiteral("Big"));
    EXPECT_THAT(a->log->since(mark), ElementsAre("⚠️ CloudKit: Quota exceeded for Big, uploading metadata only...",
                                                 "✅ Uploaded metadata (no audio): " + recordName(big)));
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus {.value = SyncStatus::success});
    EXPECT_NE(a->manager->lastSyncDate(), firstSyncDate);
    EXPECT_FALSE(database().fetch(Record::ID {recordName(big), zoneID}).contains("audioAsset"));
    EXPECT_THAT(fileNames(a->temporaryFolder()), IsEmpty());

    // The other client gets an empty stand-in for the missing audio, made once.
    sync(*a);
    sync(*b);
    EXPECT_TRUE(b->log->contains("⚠️ CloudKit: No audio for Big (metadata only)"));
    const auto placeholder = b->folder() / (recordName(big) + ".m4a");
    EXPECT_EQ(std::filesystem::file_size(placeholder), 0u);

    // The store is rebuilt (the zone made anew) and the first client sends everything again, now
    // with the audio; the stand-in fills at the next full read.
    administration.setQuota(administration.currentAccount(), std::nullopt);
    database().deleteRecordZone(zoneID);
    database().save(platform::cloud::RecordZone(zoneID));
    mark = a->log->size();
    sync(*a);
    EXPECT_THAT(a->log->since(mark), Contains("⚠️ CloudKit: Change token expired - will do full sync next time"));
    EXPECT_THAT(a->log->since(mark), Contains("✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 2)"));
    EXPECT_FALSE(a->manager->loadChangeToken());
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus {.value = SyncStatus::success});

    mark = b->log->size();
    sync(*b);
    EXPECT_THAT(b->log->since(mark), Contains("⚠️ CloudKit: Change token expired - will do full sync next time"));
    EXPECT_THAT(b->log->since(mark), Contains("✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 0)"));
    EXPECT_EQ(std::filesystem::file_size(placeholder), 0u);
    mark = b->log->size();
    sync(*b);
    EXPECT_THAT(b->log->since(mark), Contains("☁️ CloudKit: Fetching via zone changes (mode: full)..."));
    EXPECT_THAT(b->log->since(mark), Contains("✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 0)"));
    const auto lines = b->log->all();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "⚠️ CloudKit: No audio for Big (metadata only)"), 1);
    EXPECT_EQ(testsupport::readFile(placeholder), testsupport::readFile(big.audioURL));
    EXPECT_EQ(b->library->recordings().size(), 2);

    // A stand-in left without its sidecar (the program ended in between) fills as well.
    auto c = makeClient("c");
    const auto leftOver = c->folder() / (recordName(big) + ".m4a");
    testsupport::writeFile(leftOver, "");
    sync(*c);
    EXPECT_EQ(testsupport::readFile(leftOver), testsupport::readFile(big.audioURL));
    EXPECT_EQ(readSidecar(LibraryFolder::sidecarURL(leftOver)).title, QStringLiteral("Big"));
    EXPECT_FALSE(c->log->contains("⚠️ CloudKit: No audio for Big (metadata only)"));
}

TEST_F(CloudSyncTest, BatchesGoIntoTheLibraryOneByOneAndTheTokenPassesOnlyStoredRecords)
{
    auto a = makeClient("a");
    auto b = makeClient("b", {.changesBatchSize = 1});
    for (int index = 1; index <= 12; ++index) {
        save(*a, QStringLiteral("Note %1").arg(index));
    }

    // A batch's token is stored only once the library lists every recording it passes: every ten
    // batches and at the end.
    std::vector<qsizetype> listedAtTokenWrites;
    QObject::connect(b->defaults.get(), &platform::UserDefaults::changed, [&](const QString& key) {
        if (key == QLatin1String(CloudKitSyncManager::changeTokenKey) && b->defaults->contains(key)) {
            listedAtTokenWrites.push_back(b->library->recordings().size());
        }
    });
    // A record that comes in after the download has ended is for the next download, even though
    // the listing that follows already sees it.
    const QUuid lateID = QUuid::createUuid();
    bool lateSaved = false;
    QObject::connect(b->manager.get(), &CloudKitSyncManager::syncStatusChanged, [&] {
        if (!lateSaved && b->manager->syncStatus().value == SyncStatus::success) {
            lateSaved = true;
            database().save(cloudRecord(CloudRecordStore::recordName(lateID), "Late"));
        }
    });
    auto mark = b->log->size();
    sync(*b);
    auto lines = b->log->since(mark);
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Zone changes: 12 Recording records"));
    EXPECT_THAT(lines, Contains("✅ CloudKit: Downloaded 12 new recordings"));
    EXPECT_THAT(lines, Contains("☁️ CloudKit: 13 records in cloud, checking for new uploads..."));
    EXPECT_EQ(b->library->recordings().size(), 12);
    EXPECT_THAT(listedAtTokenWrites, ElementsAre(10, 12));

    mark = b->log->size();
    sync(*b);
    lines = b->log->since(mark);
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Fetching via zone changes (mode: incremental)..."));
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Zone changes: 1 Recording records"));
    EXPECT_THAT(lines, Contains("📥 CloudKit: Synced from cloud: Late"));
    ASSERT_TRUE(b->library->recording(lateID));
    EXPECT_EQ(b->library->recordings().size(), 13);

    // Where the zone's changes end now, as a reader from the beginning finds it.
    std::optional<platform::cloud::ServerChangeToken> end;
    for (bool more = true; more;) {
        const auto changes = database().recordZoneChanges(zoneID, end, std::vector<std::string> {});
        end = changes.changeToken;
        more = changes.moreComing;
    }
    EXPECT_EQ(b->manager->loadChangeToken(), end);

    // Audio that cannot be written fails the download before its token is stored, so the next
    // sync reads everything again.
    auto c = makeClient("c", {.changesBatchSize = 2});
    bool removed = false;
    QObject::connect(c->manager.get(), &CloudKitSyncManager::syncStatusChanged, [&] {
        if (!removed && c->manager->syncStatus().value == SyncStatus::syncing) {
            removed = true;
            std::filesystem::remove_all(c->folder());
        }
    });
    mark = c->log->size();
    sync(*c);
    lines = c->log->since(mark);
    EXPECT_THAT(lines, Contains(::testing::StartsWith("❌ CloudKit: Download failed: ")));
    EXPECT_THAT(lines, Not(Contains(::testing::StartsWith("☁️ CloudKit: Getting cloud record IDs"))));
    EXPECT_EQ(c->manager->syncStatus().value, SyncStatus::error);
    ASSERT_TRUE(c->manager->syncStatus().failure);
    EXPECT_EQ(c->manager->syncStatus().failure->errorCase(), SyncError::downloadFailed);
    EXPECT_FALSE(c->manager->isSyncing());
    EXPECT_FALSE(c->manager->loadChangeToken());
    EXPECT_THAT(c->library->recordings(), IsEmpty());

    std::filesystem::create_directories(c->folder());
    mark = c->log->size();
    sync(*c);
    lines = c->log->since(mark);
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Fetching via zone changes (mode: full)..."));
    EXPECT_THAT(lines, Contains("✅ CloudKit: Full sync complete (downloaded: 13, uploaded: 0)"));
}

TEST_F(CloudSyncTest, ADroppedZoneIsReportedAndMadeAgainForTheUploads)
{
    auto a = makeClient("a");
    const Recording first = save(*a, QStringLiteral("First"));
    sync(*a);
    database().deleteRecordZone(zoneID);

    // The zone is believed to exist, so an upload now fails; nothing local changes.
    auto mark = a->log->size();
    const Recording second = save(*a, QStringLiteral("Second"));
    EXPECT_THAT(a->log->since(mark), ElementsAre("❌ Upload failed for Second: Zone not found"));
    EXPECT_EQ(a->library->recordings().size(), 2);

    mark = a->log->size();
    sync(*a);
    EXPECT_THAT(a->log->since(mark),
                ElementsAre("🔄 CloudKit: Full sync starting with 2 local recordings",
                            "☁️ CloudKit: Checking account status...", "✅ CloudKit: iCloud account available",
                            "☁️ CloudKit: Downloading new recordings...",
                            "☁️ CloudKit: Fetching via zone changes (mode: incremental)...",
                            "☁️ CloudKit: Zone/schema not ready yet - will create on first upload",
                            "☁️ CloudKit: Getting cloud record IDs...",
                            "☁️ CloudKit: Creating custom zone 'RecordingsZone'...",
                            "✅ CloudKit: Zone created successfully",
                            "☁️ CloudKit: 0 records in cloud, checking for new uploads...",
                            "✅ Uploaded: " + recordName(second), "✅ Uploaded: " + recordName(first),
                            "✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 2)"));
    EXPECT_TRUE(a->defaults->boolValue(CloudKitSyncManager::zoneCreatedKey));
    EXPECT_EQ(database().records(platform::cloud::Query {"Recording"}, zoneID).size(), 2u);

    // The old token belongs to the zone that is gone.
    mark = a->log->size();
    sync(*a);
    EXPECT_THAT(a->log->since(mark), Contains("⚠️ CloudKit: Change token expired - will do full sync next time"));
    mark = a->log->size();
    sync(*a);
    EXPECT_THAT(a->log->since(mark), Contains("☁️ CloudKit: Fetching via zone changes (mode: full)..."));
    EXPECT_THAT(a->log->since(mark), Contains("✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 0)"));
}

TEST_F(CloudSyncTest, AServerThatStopsMidSyncLosesNothingAndTheNextSyncCatchesUp)
{
    auto a = makeClient("a", {.attachToLibrary = false});
    for (const auto* title : {"One", "Two", "Three"}) {
        save(*a, QString::fromLatin1(title));
    }
    a->library->setCloudSync(a->manager);
    const auto filesBefore = fileNames(a->folder());

    bool stopped = false;
    QObject::connect(a->manager.get(), &CloudKitSyncManager::syncStatusChanged, [&] {
        if (!stopped && a->manager->syncStatus().value == SyncStatus::success) {
            stopped = true;
            server->stop();
        }
    });
    std::vector<QString> failures;
    QObject::connect(a->library.get(), &RecordingsManager::syncFailed, [&](const QString& reason) { failures.push_back(reason); });
    auto mark = a->log->size();
    sync(*a);
    const std::string lost = "Cannot connect to the cloud server";
    EXPECT_THAT(a->log->since(mark),
                ElementsAre("🔄 CloudKit: Full sync starting with 3 local recordings",
                            "☁️ CloudKit: Checking account status...", "✅ CloudKit: iCloud account available",
                            "☁️ CloudKit: Downloading new recordings...",
                            "🔄 CloudKit: Resetting change token for v2 full rescan",
                            "☁️ CloudKit: Fetching via zone changes (mode: full)...",
                            "☁️ CloudKit: Creating custom zone 'RecordingsZone'...",
                            "✅ CloudKit: Zone created successfully", "☁️ CloudKit: Zone changes: 0 Recording records",
                            "✅ CloudKit: Downloaded 0 new recordings", "☁️ CloudKit: Getting cloud record IDs...",
                            "⚠️ CloudKit: getCloudRecordIDs failed: " + lost,
                            "☁️ CloudKit: 0 records in cloud, checking for new uploads...",
                            "❌ Upload failed for Three: " + lost,
                            "⚠️ CloudKit: Upload failed for Three: Upload failed: " + lost,
                            "⏭️ CloudKit: Skipping 2 remaining uploads - cloud server not reachable",
                            "❌ CloudKit: Full sync ended early (downloaded: 0, uploaded: 0)"));
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus::failed(SyncError(SyncError::uploadFailed, lost)));
    // The sync that skipped uploads ends as failed for its caller too.
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_THAT(failures.front().toStdString(), HasSubstr(lost));

    // Saving still works locally, and the next sync cannot even ask for the account.
    save(*a, QStringLiteral("Four"));
    EXPECT_EQ(a->library->recordings().size(), 4);
    mark = a->log->size();
    sync(*a);
    EXPECT_THAT(a->log->since(mark),
                ElementsAre("🔄 CloudKit: Full sync starting with 4 local recordings",
                            "☁️ CloudKit: Checking account status...",
                            "❌ CloudKit: Failed to check iCloud status: " + lost,
                            "⏭️ CloudKit: Skipping sync - not signed in"));
    EXPECT_EQ(a->manager->syncError(), SyncError(SyncError::notSignedIn));
    a->library->loadRecordings();
    EXPECT_EQ(a->library->recordings().size(), 4);
    for (const auto& name : filesBefore) {
        EXPECT_THAT(fileNames(a->folder()), Contains(name));
    }

    server->restart();
    mark = a->log->size();
    sync(*a);
    EXPECT_THAT(a->log->since(mark), Contains("✅ CloudKit: Full sync complete (downloaded: 0, uploaded: 4)"));
    EXPECT_EQ(database().records(platform::cloud::Query {"Recording"}, zoneID).size(), 4u);
    // An account problem once found stays reported.
    EXPECT_EQ(a->manager->syncError(), SyncError(SyncError::notSignedIn));
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus {.value = SyncStatus::success});
}

// The server goes away after the first of three uploads: the other two are skipped, and the sync
// ends as the failure it is, for the manager and for the library that asked for it.
TEST_F(CloudSyncTest, AServerGoneMidUploadEndsTheSyncAsFailed)
{
    auto a = makeClient("a", {.attachToLibrary = false});
    for (const auto* title : {"One", "Two", "Three"}) {
        save(*a, QString::fromLatin1(title));
    }
    a->library->setCloudSync(a->manager);
    std::atomic<bool> stopped = false;
    a->log->onLine([&](const std::string& line) {
        if (line.starts_with("✅ Uploaded: ") && !stopped.exchange(true)) {
            server->stop();
        }
    });
    std::vector<QString> failures;
    QObject::connect(a->library.get(), &RecordingsManager::syncFailed, [&](const QString& reason) { failures.push_back(reason); });
    testing::internal::CaptureStdout();
    const auto mark = a->log->size();
    sync(*a);
    const std::string printed = testing::internal::GetCapturedStdout();
    a->log->onLine({});
    const auto lines = a->log->since(mark);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("✅ Uploaded: "); }), 1);
    EXPECT_THAT(lines, Contains("⏭️ CloudKit: Skipping 1 remaining uploads - cloud server not reachable"));
    EXPECT_THAT(lines, Contains("❌ CloudKit: Full sync ended early (downloaded: 0, uploaded: 1)"));
    EXPECT_THAT(lines, Not(Contains(HasSubstr("Full sync complete"))));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_THAT(printed, HasSubstr("⚠️ CloudKit sync failed: "));
    EXPECT_THAT(printed, Not(HasSubstr("✅ CloudKit sync complete")));
    EXPECT_EQ(a->manager->syncStatus().value, SyncStatus::failed(SyncError(SyncError::uploadFailed, "")).value);
    server->restart();
}

TEST_F(CloudSyncTest, ARestrictedAccountSkipsTheSyncWithItsStatusNumber)
{
    executeAsSuperuser(server->url(), "CREATE ROLE visitor LOGIN");
    executeAsSuperuser(server->url(), "CREATE DATABASE guarded");
    auto visitor = makeClient("visitor", {.url = server->url("guarded", "visitor")});
    save(*visitor, QStringLiteral("Mine"));
    const auto mark = visitor->log->size();
    sync(*visitor);
    EXPECT_THAT(visitor->log->since(mark),
                ElementsAre("🔄 CloudKit: Full sync starting with 1 local recordings",
                            "☁️ CloudKit: Checking account status...", "⚠️ CloudKit: iCloud status: 2",
                            "⏭️ CloudKit: Skipping sync - not signed in"));
    EXPECT_FALSE(visitor->manager->syncError());
}

TEST_F(CloudSyncTest, RecordsThatAreNoRecordingsWriteNothing)
{
    const auto store = database();
    store.save(platform::cloud::RecordZone(zoneID));
    const QUuid id = QUuid::createUuid();
    const std::string upper = CloudRecordStore::recordName(id);
    const std::string lower = QString::fromStdString(upper).toLower().toStdString();
    store.save(cloudRecord(lower, "Fine"));
    // The same UUID once more, in capitals: one recording.
    store.save(cloudRecord(upper, "Twin"));
    const std::vector<std::string> hostile = {
        "../../escape", "not-a-uuid", "{" + upper + "}", "00000000-0000-0000-0000-000000000000",
        "../" + upper.substr(3),
    };
    for (const auto& name : hostile) {
        store.save(cloudRecord(name, "Hostile"));
    }
    std::vector<std::string> invalid;
    const auto addInvalid = [&](Record record) {
        invalid.push_back(record.recordID().recordName);
        store.save(record);
    };
    addInvalid(cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), "Not a number", std::nan("")));
    addInvalid(cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), "Negative", -1));
    addInvalid(cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), "Endless", INFINITY));
    addInvalid(cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), "Lower case", 1, "work"));
    Record untitled = cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), "");
    untitled.remove("title");
    addInvalid(untitled);
    Record textDuration = cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), "Text duration");
    textDuration.set("duration", std::string("1.0"));
    addInvalid(textDuration);
    Record note("Note", Record::ID {CloudRecordStore::recordName(QUuid::createUuid()), zoneID});
    note.set("title", std::string("Other type"));
    store.save(note);

    auto b = makeClient("b");
    sync(*b);
    const auto lines = b->log->all();
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Zone changes: 13 Recording records"));
    for (const auto& name : hostile) {
        EXPECT_THAT(lines, Contains("❌ Invalid record format: " + name));
    }
    for (const auto& name : invalid) {
        EXPECT_THAT(lines, Contains("❌ Invalid record format: " + name));
    }
    EXPECT_THAT(lines, Contains("✅ CloudKit: Full sync complete (downloaded: 1, uploaded: 0)"));
    EXPECT_EQ(titles(*b->library), QStringList {QStringLiteral("Fine")});
    EXPECT_EQ(b->library->recordings()[0].id, id);
    EXPECT_THAT(fileNames(b->folder()), ElementsAre(upper + ".json", upper + ".m4a"));
    EXPECT_THAT(fileNames(b->root / "Documents"), ElementsAre("Parlino"));
    EXPECT_THAT(fileNames(b->root), ElementsAre("Documents", "parlino.conf", "parlino.entitlements.json", "tmp"));
    EXPECT_FALSE(std::filesystem::exists(root() / "escape"));
    EXPECT_FALSE(std::filesystem::exists(root().parent_path() / "escape"));
}

TEST_F(CloudClientTest, WithoutAccountOrEntitlementTheLibraryStaysLocal)
{
    auto a = makeClient("a", {.withoutAccount = true});
    EXPECT_THAT(a->log->all(), ElementsAre("☁️ CloudKit: Checking entitlements...", "✅ CloudKit: Found iCloud entitlement",
                                           "⚠️ CloudKit: iCloud not signed in - skipping"));
    EXPECT_FALSE(a->manager->cloudKitAvailable());
    const QString deviceID = a->manager->deviceID();
    EXPECT_EQ(deviceID.size(), 36);
    EXPECT_EQ(deviceID, deviceID.toUpper());
    EXPECT_EQ(a->defaults->stringValue(CloudKitSyncManager::deviceIDKey), deviceID);

    auto mark = a->log->size();
    {
        // A skipped upload is no upload: the library says nothing of one.
        librarytest::CapturedConsole console;
        save(*a, QStringLiteral("Local"));
        sync(*a);
        const auto printed = console.lines();
        EXPECT_THAT(printed, Contains("✅ Saved recording: Local"));
        EXPECT_THAT(printed, Not(Contains(::testing::StartsWith("☁️ Uploaded to iCloud"))));
    }
    bool accountAnswered = false;
    a->manager->checkAccountStatus([&](bool available) {
        EXPECT_FALSE(available);
        accountAnswered = true;
    });
    EXPECT_FALSE(accountAnswered);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return accountAnswered; }));
    EXPECT_THAT(a->log->since(mark), ElementsAre("⏭️ Skipping upload - CloudKit not available",
                                                 "⏭️ CloudKit: Skipping sync - not available",
                                                 "⚠️ CloudKit: not available (no container)"));
    EXPECT_FALSE(a->manager->isSyncing());
    EXPECT_EQ(a->manager->syncStatus(), SyncStatus {});
    EXPECT_FALSE(a->manager->lastSyncDate());
    EXPECT_FALSE(a->manager->syncError());
    EXPECT_FALSE(a->defaults->contains(CloudKitSyncManager::zoneCreatedKey));
    EXPECT_FALSE(a->defaults->contains(CloudKitSyncManager::changeTokenKey));
    EXPECT_FALSE(a->defaults->contains(CloudKitSyncManager::fullRescanDoneKey));
    EXPECT_EQ(a->library->recordings().size(), 1);

    // Whatever keeps the cloud off, the check says why and the identifier stays.
    struct Case {
        std::optional<std::string> entitlements;
        const char* line;
    };
    for (const auto& [entitlements, line] : {
             Case {std::nullopt, "⚠️ CloudKit: Cannot check code signing"},
             Case {std::string("{ not json"), "⚠️ CloudKit: Cannot read signing information"},
             Case {std::string(R"({"com.apple.developer.icloud-container-identifiers": ["iCloud.com.Other"]})"),
                   "⚠️ CloudKit: iCloud entitlement not found in code signing"},
             Case {std::string(R"({"com.apple.developer.icloud-container-identifiers": "iCloud.com.OrvandaNote"})"),
                   "⚠️ CloudKit: iCloud entitlement not found in code signing"},
         }) {
        mark = a->log->size();
        const auto later = makeManager(*a, {.url = std::string("postgresql://nobody@/nowhere?host=/nonexistent"),
                                            .entitlements = entitlements});
        EXPECT_THAT(a->log->since(mark),
                    ElementsAre("☁️ CloudKit: Checking entitlements...", line, "⚠️ CloudKit: Skipped - no iCloud entitlements"));
        EXPECT_FALSE(later->cloudKitAvailable());
        EXPECT_EQ(later->deviceID(), deviceID);
        bool done = false;
        later->performFullSync(a->library->recordings(), a->library.get(), [&](std::exception_ptr error) {
            EXPECT_FALSE(error);
            done = true;
        });
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return done; }));
        EXPECT_EQ(later->syncStatus(), SyncStatus {});
    }
}

TEST(CloudKitSyncManagerRecordTest, RecordsCarryTheRecordingAndNamesOnlyUUIDs)
{
    Recording recording;
    recording.id = QUuid::fromString(QStringLiteral("{3f2b8c1e-6a4d-4e8f-9b0a-1c2d3e4f5a6b}"));
    recording.title = QStringLiteral("Everything");
    recording.transcription = QStringLiteral("words");
    recording.duration = 12.25;
    recording.date = QDateTime(QDate(2025, 1, 31), QTime(14, 30, 0, 750), Qt::UTC);
    recording.category = RecordingCategory::all;
    const QDateTime now(QDate(2026, 2, 1), QTime(8, 0), Qt::UTC);
    const Record record = CloudRecordStore::makeCKRecord(recording, zoneID, "Recording", QStringLiteral("DEVICE"), now);
    EXPECT_EQ(record.recordID().recordName, "3F2B8C1E-6A4D-4E8F-9B0A-1C2D3E4F5A6B");
    EXPECT_EQ(record.recordType(), "Recording");
    EXPECT_EQ(record.allKeys(), (std::vector<std::string> {"category", "date", "deviceID", "duration", "modifiedAt",
                                                           "title", "transcription"}));
    EXPECT_EQ(*record.get<std::string>("category"), "All");
    EXPECT_EQ(*record.get<double>("duration"), 12.25);
    EXPECT_EQ(record.get<Record::Date>("date")->time_since_epoch(),
              std::chrono::milliseconds(recording.date.toMSecsSinceEpoch()));
    EXPECT_EQ(*record.get<std::string>("deviceID"), "DEVICE");

    EXPECT_EQ(CloudRecordStore::recordingID("3f2b8c1e-6a4d-4e8f-9b0a-1c2d3e4f5a6b"), recording.id);
    for (const std::string name : {"", "3f2b8c1e6a4d4e8f9b0a1c2d3e4f5a6b", "{3f2b8c1e-6a4d-4e8f-9b0a-1c2d3e4f5a6}",
                                   "3f2b8c1e-6a4d-4e8f-9b0a-1c2d3e4f5a6g", "../2b8c1e-6a4d-4e8f-9b0a-1c2d3e4f5a6b",
                                   "00000000-0000-0000-0000-000000000000"}) {
        EXPECT_FALSE(CloudRecordStore::recordingID(name)) << name;
    }
}

TEST_F(CloudSyncTest, ABadRecordSkipsOnlyItselfAndAFrozenServerEndsTheSyncWithinItsLimit)
{
    const auto store = database();
    store.save(platform::cloud::RecordZone(zoneID));
    const QUuid before = QUuid::createUuid();
    const QUuid broken = QUuid::createUuid();
    const QUuid after = QUuid::createUuid();
    const QUuid mismatched = QUuid::createUuid();
    const QUuid large = QUuid::createUuid();
    store.save(cloudRecord(CloudRecordStore::recordName(before), "Before"));
    store.save(cloudRecord(CloudRecordStore::recordName(broken), "Broken"));
    store.save(cloudRecord(CloudRecordStore::recordName(after), "After \x1b[2J"));
    store.save(cloudRecord(CloudRecordStore::recordName(mismatched), "Mismatched"));
    // Over the downloading client's cap: the recording comes without its audio.
    Record largeRecord = cloudRecord(CloudRecordStore::recordName(large), "Large");
    writeRandomAudio(root() / "large.m4a", 1'500'000);
    largeRecord.set("audioAsset", platform::cloud::Asset(root() / "large.m4a"));
    store.save(largeRecord);
    // What another program may leave in the store: a NULL value, a value in the wrong column.
    const auto recordRow = [](const QUuid& id) {
        return "(SELECT id FROM parlino_cloud.records WHERE record_name = '" + CloudRecordStore::recordName(id) + "')";
    };
    executeAsSuperuser(server->url(), "UPDATE parlino_cloud.fields SET string_value = NULL WHERE name = 'title' AND "
                                      "record_id = " + recordRow(broken));
    executeAsSuperuser(server->url(), "UPDATE parlino_cloud.fields SET kind = 's', string_value = NULL WHERE name = "
                                      "'duration' AND record_id = " + recordRow(mismatched));
    auto b = makeClient("b", {.maxAssetBytes = 1 << 20, .attachToLibrary = false});
    const Recording local = save(*b, QStringLiteral("Local"));
    b->library->setCloudSync(b->manager);
    sync(*b);
    auto lines = b->log->all();
    EXPECT_THAT(lines, Contains("❌ Invalid record format: " + CloudRecordStore::recordName(broken)));
    EXPECT_THAT(lines, Contains("❌ Invalid record format: " + CloudRecordStore::recordName(mismatched)));
    EXPECT_THAT(lines, Contains("📥 CloudKit: Synced from cloud: Before"));
    EXPECT_THAT(lines, Contains("📥 CloudKit: Synced from cloud: After \\x1b[2J"));
    EXPECT_THAT(lines, Contains("⚠️ CloudKit: Skipping audio of " + CloudRecordStore::recordName(large)
                                + " - 1 MB is over the 1 MiB limit"));
    EXPECT_THAT(lines, Contains("⚠️ CloudKit: No audio for Large (metadata only)"));
    EXPECT_THAT(lines, Contains("✅ Uploaded: " + recordName(local)));
    EXPECT_THAT(lines, Contains("✅ CloudKit: Full sync complete (downloaded: 3, uploaded: 1)"));
    EXPECT_TRUE(b->library->recording(before));
    EXPECT_TRUE(b->library->recording(after));
    EXPECT_EQ(std::filesystem::file_size(b->folder() / (CloudRecordStore::recordName(large) + ".m4a")), 0u);
    EXPECT_EQ(database().records(platform::cloud::Query {"Recording"}, zoneID).size(), 6u);

    // Leftovers of a killed run are removed by the next one, newer files stay.
    const auto stale = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    const auto leftover = b->folder() / ("." + CloudRecordStore::recordName(after) + ".m4a.0123456789abcdef.tmp");
    const auto upload = b->temporaryFolder() / "copy.m4a";
    const auto cached = b->root / "cache" / "asset-Ab12Cd";
    for (const auto& file : {leftover, upload, cached}) {
        testsupport::writeFile(file, "partial");
        std::filesystem::last_write_time(file, stale);
    }
    // Not a name the sync writes: another part of the program's.
    const auto other = b->folder() / ".other.json.0123456789abcdef.tmp";
    testsupport::writeFile(other, "mine");
    std::filesystem::last_write_time(other, stale);

    // A server that stops answering mid-download ends the sync with its failure line once the
    // request limit has passed; the batch that came before it stays, with its token.
    for (const char* title : {"New 1", "New 2", "New 3"}) {
        store.save(cloudRecord(CloudRecordStore::recordName(QUuid::createUuid()), title));
    }
    // A later launch: a new manager.
    b->manager = makeManager(*b, {.changesBatchSize = 1});
    b->library->setCloudSync(b->manager);
    std::optional<std::chrono::steady_clock::time_point> frozenAt;
    QObject::connect(b->library.get(), &LibraryService::recordingsChanged, [&] {
        // Past the batch of its own upload and the first new one.
        if (!frozenAt && b->library->recordings().size() == 5) {
            frozenAt = std::chrono::steady_clock::now();
            server->freeze();
        }
    });
    auto mark = b->log->size();
    sync(*b);
    const auto waited = std::chrono::steady_clock::now() - frozenAt.value_or(std::chrono::steady_clock::now());
    lines = b->log->since(mark);
    server->thaw();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_FALSE(std::filesystem::exists(upload));
    EXPECT_FALSE(std::filesystem::exists(cached));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_THAT(lines, Contains("📥 CloudKit: Synced from cloud: New 1"));
    EXPECT_THAT(lines, Contains("❌ CloudKit: Download failed: The cloud service is unavailable right now"));
    EXPECT_EQ(b->manager->syncStatus().value, SyncStatus::error);
    EXPECT_FALSE(b->manager->isSyncing());
    // The limit is the client's request limit (3 s here); the rest is slack for a loaded machine.
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_EQ(b->library->recordings().size(), 5);

    // The next sync starts afresh after the last batch that went in.
    mark = b->log->size();
    sync(*b);
    lines = b->log->since(mark);
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Fetching via zone changes (mode: incremental)..."));
    EXPECT_THAT(lines, Contains("☁️ CloudKit: Zone changes: 2 Recording records"));
    EXPECT_THAT(lines, Contains("✅ CloudKit: Full sync complete (downloaded: 2, uploaded: 0)"));
    EXPECT_EQ(b->library->recordings().size(), 7);
}
