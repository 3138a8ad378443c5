#include "app/library/CloudKitSyncManager.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/support/RunThenPost.hpp"
#include "platform/cloud/CloudError.hpp"
#include "platform/system/Entitlements.hpp"
#include "platform/system/Folders.hpp"
#include "platform/system/SystemLog.hpp"

#include <algorithm>
#include <utility>

namespace parlino {

namespace {

using platform::cloud::AccountStatus;
using platform::cloud::CloudError;
using platform::cloud::ServerChangeToken;

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string number(qsizetype value)
{
    return std::to_string(value);
}

// Reaches the shared manager only when the library first uploads or syncs.
class SharedCloudSync : public CloudSync {
public:
    bool isAvailable() const override { return CloudKitSyncManager::shared().isAvailable(); }

    void uploadRecording(const Recording& recording, UploadCompletion completion) override
    {
        CloudKitSyncManager::shared().uploadRecording(recording, std::move(completion));
    }

    void performFullSync(const QList<Recording>& localRecordings, QPointer<RecordingsManager> library,
                         Completion completion) override
    {
        CloudKitSyncManager::shared().performFullSync(localRecordings, std::move(library), std::move(completion));
    }
};

} // namespace

// One full sync under way, with everyone waiting for it.
struct CloudKitSyncManager::FullSync {
    QList<Recording> localRecordings;
    QPointer<RecordingsManager> library;
    std::filesystem::path folder;
    std::vector<Completion> completions;
    std::set<std::string> cloudNames;
    qsizetype downloaded = 0;
    qsizetype uploaded = 0;
};

// The download of a full sync, batch by batch: each batch's recordings go into the library before
// its token is stored and the next batch is asked for.
struct CloudKitSyncManager::Download {
    // Local ids and those downloaded so far; the worker's while a batch is fetched, else ours.
    std::shared_ptr<QSet<QUuid>> taken;
    std::optional<ServerChangeToken> since;
    bool zoneKnown = false;
    bool removeLeftovers = false;
    std::size_t records = 0;
    qsizetype converted = 0;
    // Batches in the library since the token was last stored.
    int unsavedBatches = 0;
};

CloudKitSyncManager::Environment CloudKitSyncManager::Environment::standard()
{
    Environment environment;
    environment.configuration = platform::cloud::CloudConfiguration::fromEnvironment();
    if (const auto folder = platform::Entitlements::executableFolder()) {
        environment.entitlementsFile = *folder / platform::Entitlements::fileName;
    }
    environment.defaults = &platform::UserDefaults::standard();
    environment.temporaryFolder = standardUploadsFolder();
    environment.clock = [] { return QDateTime::currentDateTimeUtc(); };
    environment.log = [](const std::string& line) {
        platform::SystemLog::write("Parlino", "CloudKit", platform::SystemLog::Type::defaultType, line);
    };
    return environment;
}

std::filesystem::path CloudKitSyncManager::standardUploadsFolder()
{
    return platform::Folders::caches() / "parlino" / "CloudUploads";
}

CloudKitSyncManager& CloudKitSyncManager::shared()
{
    static CloudKitSyncManager* manager = new CloudKitSyncManager(Environment::standard());
    return *manager;
}

std::shared_ptr<CloudSync> CloudKitSyncManager::sharedCloudSync()
{
    return std::make_shared<SharedCloudSync>();
}

CloudKitSyncManager::CloudKitSyncManager(Environment environment, QObject* parent)
    : QObject(parent)
    , environment_(std::move(environment))
{
    worker_.setMaxThreadCount(1);
    deviceID_ = loadOrCreateDeviceID();

    log("☁️ CloudKit: Checking entitlements...");
    if (!hasICloudEntitlement()) {
        log("⚠️ CloudKit: Skipped - no iCloud entitlements");
        return;
    }
    if (!environment_.configuration.identityToken()) {
        log("⚠️ CloudKit: iCloud not signed in - skipping");
        return;
    }
    log("☁️ CloudKit: Entitlements OK, initializing container...");
    container_.emplace(containerIdentifier, environment_.configuration);
    privateDatabase_.emplace(container_->privateCloudDatabase());
    store_ = std::make_shared<const CloudRecordStore>(CloudRecordStore::Setup {
        .database = *privateDatabase_,
        .zoneID = customZoneID_,
        .recordType = recordType_,
        .deviceID = deviceID_,
        .scratch = CloudScratchFiles(environment_.temporaryFolder, environment_.configuration.resolvedAssetCacheFolder()),
        .clock = environment_.clock,
        .log = environment_.log,
    });
    cloudKitAvailable_ = true;
    log(std::string("📦 CloudKit: Using container ") + containerIdentifier);
}

CloudKitSyncManager::~CloudKitSyncManager()
{
    worker_.clear();
    worker_.waitForDone();
}

bool CloudKitSyncManager::hasICloudEntitlement() const
{
    // The entitlements file stands in for the code signature: no file is no signature to check,
    // a file that does not read is a signature that does not.
    std::error_code error;
    if (!environment_.entitlementsFile || !std::filesystem::exists(*environment_.entitlementsFile, error)) {
        log("⚠️ CloudKit: Cannot check code signing");
        return false;
    }
    const auto entitlements = platform::Entitlements::load(*environment_.entitlementsFile);
    if (!entitlements) {
        log("⚠️ CloudKit: Cannot read signing information");
        return false;
    }
    const auto identifiers = entitlements->stringArray(platform::Entitlements::iCloudContainerIdentifiersKey);
    if (identifiers && std::find(identifiers->begin(), identifiers->end(), containerIdentifier) != identifiers->end()) {
        log("✅ CloudKit: Found iCloud entitlement");
        return true;
    }
    log("⚠️ CloudKit: iCloud entitlement not found in code signing");
    return false;
}

QString CloudKitSyncManager::loadOrCreateDeviceID()
{
    const QString stored = environment_.defaults->stringValue(key(deviceIDKey));
    if (!stored.isEmpty()) {
        return stored;
    }
    const QString made = QString::fromStdString(CloudRecordStore::recordName(QUuid::createUuid()));
    environment_.defaults->setString(key(deviceIDKey), made);
    return made;
}

void CloudKitSyncManager::later(std::function<void()> action)
{
    postTo(this, std::move(action));
}

bool CloudKitSyncManager::zoneKnown() const
{
    return environment_.defaults->boolValue(key(zoneCreatedKey));
}

void CloudKitSyncManager::rememberZone(bool knownBefore, bool knownAfter)
{
    if (!knownBefore && knownAfter) {
        environment_.defaults->setBool(key(zoneCreatedKey), true);
    }
}

void CloudKitSyncManager::begin()
{
    setIsSyncing(true);
    setSyncStatus(SyncStatus {.value = SyncStatus::syncing});
}

void CloudKitSyncManager::setIsSyncing(bool value)
{
    if (isSyncing_ != value) {
        isSyncing_ = value;
        emit isSyncingChanged();
    }
}

void CloudKitSyncManager::setLastSyncDate(std::optional<QDateTime> value)
{
    lastSyncDate_ = std::move(value);
    emit lastSyncDateChanged();
}

void CloudKitSyncManager::setSyncError(std::optional<SyncError> value)
{
    syncError_ = std::move(value);
    emit syncErrorChanged();
}

void CloudKitSyncManager::setSyncStatus(SyncStatus value)
{
    if (!(syncStatus_ == value)) {
        syncStatus_ = std::move(value);
        emit syncStatusChanged();
    }
}

platform::cloud::Record CloudKitSyncManager::makeCKRecord(const Recording& recording) const
{
    return CloudRecordStore::makeCKRecord(recording, customZoneID_, recordType_, deviceID_, environment_.clock());
}

std::optional<ServerChangeToken> CloudKitSyncManager::loadChangeToken() const
{
    const QByteArray bytes = environment_.defaults->dataValue(key(changeTokenKey));
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    return ServerChangeToken::fromBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
}

void CloudKitSyncManager::saveChangeToken(const std::optional<ServerChangeToken>& token)
{
    if (!token) {
        environment_.defaults->remove(key(changeTokenKey));
        return;
    }
    const std::vector<std::uint8_t> bytes = token->bytes();
    environment_.defaults->setData(key(changeTokenKey),
                                   QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

void CloudKitSyncManager::uploadRecording(const Recording& recording, UploadCompletion completion)
{
    if (!cloudKitAvailable_ || !privateDatabase_) {
        log("⏭️ Skipping upload - CloudKit not available");
        later([completion] { completion(nullptr, UploadOutcome::skipped); });
        return;
    }
    begin();
    const bool knownBefore = zoneKnown();
    runThenPost(worker_, this,
        [store = store_, recording, knownBefore] {
            bool known = knownBefore;
            CloudRecordStore::Upload upload = store->uploadRecording(recording, known);
            return std::make_pair(upload, known);
        },
        [this, knownBefore, completion](std::pair<CloudRecordStore::Upload, bool> answer) {
            rememberZone(knownBefore, answer.second);
            const CloudRecordStore::Upload& upload = answer.first;
            lastUploadUnreachable_ = upload.result == CloudRecordStore::UploadResult::failed && upload.serverUnreachable;
            switch (upload.result) {
            case CloudRecordStore::UploadResult::saved:
            case CloudRecordStore::UploadResult::savedWithoutAudio:
                setLastSyncDate(environment_.clock());
                setSyncStatus(SyncStatus {.value = SyncStatus::success});
                setIsSyncing(false);
                completion(nullptr, UploadOutcome::uploaded);
                return;
            case CloudRecordStore::UploadResult::alreadyInCloud:
                setSyncStatus(SyncStatus {.value = SyncStatus::success});
                setIsSyncing(false);
                completion(nullptr, UploadOutcome::uploaded);
                return;
            case CloudRecordStore::UploadResult::failed: break;
            }
            const SyncError error(SyncError::uploadFailed, upload.failureDescription);
            setSyncStatus(SyncStatus::failed(error));
            setIsSyncing(false);
            completion(std::make_exception_ptr(error), UploadOutcome::uploaded);
        });
}

void CloudKitSyncManager::checkAccountStatus(std::function<void(bool available)> completion)
{
    if (!cloudKitAvailable_ || !container_) {
        log("⚠️ CloudKit: not available (no container)");
        later([completion] { completion(false); });
        return;
    }
    log("☁️ CloudKit: Checking account status...");
    struct Answer {
        AccountStatus status = AccountStatus::couldNotDetermine;
        std::optional<std::string> failure;
    };
    runThenPost(worker_, this,
        [container = *container_] {
            try {
                return Answer {.status = container.accountStatus()};
            } catch (const std::exception& error) {
                return Answer {.failure = error.what()};
            }
        },
        [this, completion](Answer answer) {
            if (answer.failure) {
                log("❌ CloudKit: Failed to check iCloud status: " + *answer.failure);
                setSyncError(SyncError(SyncError::notSignedIn));
                completion(false);
                return;
            }
            switch (answer.status) {
            case AccountStatus::available:
                log("✅ CloudKit: iCloud account available");
                completion(true);
                return;
            case AccountStatus::noAccount:
                log("⚠️ CloudKit: No iCloud account");
                setSyncError(SyncError(SyncError::notSignedIn));
                completion(false);
                return;
            default:
                log("⚠️ CloudKit: iCloud status: " + std::to_string(static_cast<int>(answer.status)));
                completion(false);
                return;
            }
        });
}

void CloudKitSyncManager::downloadNewRecordings(const std::shared_ptr<FullSync>& sync, QSet<QUuid> localIDs)
{
    if (!cloudKitAvailable_ || !privateDatabase_) {
        log("⏭️ CloudKit: Skipping download - not available");
        later([this, sync] { continueAfterDownload(sync, nullptr); });
        return;
    }
    auto download = std::make_shared<Download>(Download {
        .taken = std::make_shared<QSet<QUuid>>(std::move(localIDs)),
        .since = loadChangeToken(),
        .zoneKnown = zoneKnown(),
        .removeLeftovers = !leftoversRemoved_,
    });
    leftoversRemoved_ = true;
    log(std::string("☁️ CloudKit: Fetching via zone changes (mode: ") + (download->since ? "incremental" : "full")
        + ")...");
    begin();
    fetchBatch(sync, download);
}

void CloudKitSyncManager::fetchBatch(const std::shared_ptr<FullSync>& sync, const std::shared_ptr<Download>& download)
{
    struct Answer {
        std::optional<CloudRecordStore::DownloadBatch> batch;
        std::exception_ptr error;
        bool zoneKnown = false;
    };
    const bool knownBefore = download->zoneKnown;
    const bool cleanUp = std::exchange(download->removeLeftovers, false);
    runThenPost(worker_, this,
        [store = store_, since = download->since, taken = download->taken, folder = sync->folder, knownBefore, cleanUp,
         startedAt = startedAt_] {
            Answer answer {.zoneKnown = knownBefore};
            if (cleanUp) {
                store->scratch().removeLeftovers(folder, startedAt);
            }
            try {
                answer.batch = store->downloadBatch(since, *taken, folder, answer.zoneKnown);
            } catch (...) {
                answer.error = std::current_exception();
            }
            return answer;
        },
        [this, sync, download, knownBefore](Answer answer) {
            rememberZone(knownBefore, answer.zoneKnown);
            download->zoneKnown = answer.zoneKnown;
            if (answer.error) {
                failDownload(sync, download, answer.error);
                return;
            }
            download->records += answer.batch->recordCount;
            download->converted += static_cast<qsizetype>(answer.batch->recordings.size());
            mergeBatch(sync, download, std::make_shared<CloudRecordStore::DownloadBatch>(std::move(*answer.batch)), 0);
        });
}

void CloudKitSyncManager::mergeBatch(const std::shared_ptr<FullSync>& sync, const std::shared_ptr<Download>& download,
                                     const std::shared_ptr<CloudRecordStore::DownloadBatch>& batch, std::size_t from)
{
    // A slice at a time, each its own turn of the event loop, so the window keeps answering.
    constexpr std::size_t sliceSize = 200;
    const std::size_t to = std::min(batch->recordings.size(), from + sliceSize);
    RecordingsManager* library = sync->library.data();
    if (library && from < to) {
        std::vector<RecordingsManager::DownloadedRecording> slice;
        slice.reserve(to - from);
        for (std::size_t index = from; index < to; ++index) {
            CloudRecordStore::DownloadedRecording& downloaded = batch->recordings[index];
            slice.push_back({std::move(downloaded.recording), downloaded.sidecarWritten
                                                                  ? RecordingsManager::DownloadedSidecar::written
                                                                  : RecordingsManager::DownloadedSidecar::toWrite});
        }
        for (const Recording& added : library->appendDownloadedRecordings(slice)) {
            ++sync->downloaded;
            log("📥 CloudKit: Synced from cloud: " + escapeControls(added.title.toStdString()));
        }
    }
    if (to < batch->recordings.size()) {
        later([this, sync, download, batch, to] { mergeBatch(sync, download, batch, to); });
        return;
    }
    // Only now is every record the token passes safe in the library. Each store of it waits for
    // the disk, so it is stored every few batches and when the download ends, however it ends.
    constexpr int batchesPerTokenStore = 10;
    download->since = batch->changeToken;
    download->unsavedBatches += library ? 1 : 0;
    if (download->unsavedBatches >= batchesPerTokenStore || (!batch->moreComing && download->unsavedBatches > 0)) {
        saveChangeToken(download->since);
        download->unsavedBatches = 0;
    }
    if (batch->moreComing) {
        fetchBatch(sync, download);
        return;
    }
    log("☁️ CloudKit: Zone changes: " + std::to_string(download->records) + " Recording records");
    log("✅ CloudKit: Downloaded " + number(download->converted) + " new recordings");
    setLastSyncDate(environment_.clock());
    setSyncStatus(SyncStatus {.value = SyncStatus::success});
    setIsSyncing(false);
    continueAfterDownload(sync, nullptr);
}

void CloudKitSyncManager::failDownload(const std::shared_ptr<FullSync>& sync, const std::shared_ptr<Download>& download,
                                       const std::exception_ptr& failure)
{
    if (download->unsavedBatches > 0) {
        // What came before the failure is in the library: the next download starts after it.
        saveChangeToken(download->since);
        download->unsavedBatches = 0;
    }
    std::string description;
    std::optional<CloudError::Code> code;
    try {
        std::rethrow_exception(failure);
    } catch (const CloudError& error) {
        description = error.what();
        code = error.code();
    } catch (const std::exception& error) {
        description = error.what();
    } catch (...) {
        description = "unknown error";
    }
    if (code == CloudError::Code::changeTokenExpired) {
        log("⚠️ CloudKit: Change token expired - will do full sync next time");
        saveChangeToken(std::nullopt);
        setSyncStatus(SyncStatus {.value = SyncStatus::success});
        setIsSyncing(false);
        continueAfterDownload(sync, nullptr);
        return;
    }
    if (code == CloudError::Code::zoneNotFound || code == CloudError::Code::unknownItem) {
        log("☁️ CloudKit: Zone/schema not ready yet - will create on first upload");
        environment_.defaults->setBool(key(zoneCreatedKey), false);
        setSyncStatus(SyncStatus {.value = SyncStatus::success});
        setIsSyncing(false);
        continueAfterDownload(sync, nullptr);
        return;
    }
    log("❌ CloudKit: Download failed: " + description);
    const SyncError error(SyncError::downloadFailed, description);
    setSyncStatus(SyncStatus::failed(error));
    setIsSyncing(false);
    continueAfterDownload(sync, std::make_exception_ptr(error));
}

void CloudKitSyncManager::getCloudRecordIDs(std::function<void(std::set<std::string>)> completion)
{
    if (!privateDatabase_) {
        later([completion] { completion({}); });
        return;
    }
    const bool knownBefore = zoneKnown();
    runThenPost(worker_, this,
        [store = store_, knownBefore] {
            bool known = knownBefore;
            std::set<std::string> names = store->cloudRecordIDs(known);
            return std::make_pair(std::move(names), known);
        },
        [this, knownBefore, completion](std::pair<std::set<std::string>, bool> answer) {
            rememberZone(knownBefore, answer.second);
            completion(std::move(answer.first));
        });
}

// A full sync is a chain of continuations, each stage starting the next when its answer is back:
//   1. the account:            checkAccountStatus, then continueAfterAccountCheck (not signed in: finish)
//   2. the download:           downloadNewRecordings, then fetchBatch and mergeBatch per batch until no
//                              more come (failDownload on an error), then continueAfterDownload (failed: finish)
//   3. the cloud's record ids: getCloudRecordIDs, then continueAfterListing
//   4. the uploads:            uploadMissing, one local recording the cloud lacks at a time (an unreachable
//                              server: finish)
//   5. the end:                finishFullSync, which answers everyone waiting for this sync
void CloudKitSyncManager::performFullSync(const QList<Recording>& localRecordings, QPointer<RecordingsManager> library,
                                          Completion completion)
{
    if (!cloudKitAvailable_) {
        log("⏭️ CloudKit: Skipping sync - not available");
        later([completion] { completion(nullptr); });
        return;
    }
    if (fullSync_) {
        fullSync_->completions.push_back(std::move(completion));
        return;
    }
    if (!library) {
        later([completion] { completion(nullptr); });
        return;
    }
    log("🔄 CloudKit: Full sync starting with " + number(localRecordings.size()) + " local recordings");
    fullSync_ = std::make_shared<FullSync>(FullSync {
        .localRecordings = localRecordings,
        .library = library,
        .folder = library->documentsURL(),
        .completions = {std::move(completion)},
    });
    checkAccountStatus([this, sync = fullSync_](bool available) { continueAfterAccountCheck(sync, available); });
}

void CloudKitSyncManager::continueAfterAccountCheck(const std::shared_ptr<FullSync>& sync, bool available)
{
    if (!available) {
        log("⏭️ CloudKit: Skipping sync - not signed in");
        finishFullSync(sync, nullptr);
        return;
    }
    QSet<QUuid> localIDs;
    for (const Recording& recording : sync->localRecordings) {
        localIDs.insert(recording.id);
    }
    log("☁️ CloudKit: Downloading new recordings...");
    if (!environment_.defaults->boolValue(key(fullRescanDoneKey))) {
        log("🔄 CloudKit: Resetting change token for v2 full rescan");
        environment_.defaults->remove(key(changeTokenKey));
        environment_.defaults->setBool(key(fullRescanDoneKey), true);
    }
    downloadNewRecordings(sync, std::move(localIDs));
}

void CloudKitSyncManager::continueAfterDownload(const std::shared_ptr<FullSync>& sync, const std::exception_ptr& error)
{
    if (error) {
        finishFullSync(sync, error);
        return;
    }
    log("☁️ CloudKit: Getting cloud record IDs...");
    getCloudRecordIDs([this, sync](std::set<std::string> names) { continueAfterListing(sync, std::move(names)); });
}

void CloudKitSyncManager::continueAfterListing(const std::shared_ptr<FullSync>& sync, std::set<std::string> cloudNames)
{
    log("☁️ CloudKit: " + number(static_cast<qsizetype>(cloudNames.size()))
        + " records in cloud, checking for new uploads...");
    sync->cloudNames = std::move(cloudNames);
    uploadMissing(sync, 0);
}

void CloudKitSyncManager::uploadMissing(const std::shared_ptr<FullSync>& sync, qsizetype next)
{
    const QList<Recording>& local = sync->localRecordings;
    while (next < local.size() && sync->cloudNames.contains(CloudRecordStore::recordName(local[next].id))) {
        ++next;
    }
    if (next == local.size()) {
        log("✅ CloudKit: Full sync complete (downloaded: " + number(sync->downloaded)
            + ", uploaded: " + number(sync->uploaded) + ")");
        finishFullSync(sync, nullptr);
        return;
    }
    const Recording& recording = local[next];
    uploadRecording(recording, [this, sync, next, title = escapeControls(recording.title.toStdString())](
                                   std::exception_ptr error, UploadOutcome) {
        if (error) {
            log("⚠️ CloudKit: Upload failed for " + title + ": " + describe(error).toStdString());
        } else {
            ++sync->uploaded;
        }
        if (error && lastUploadUnreachable_) {
            // Every further try would wait for the same unreachable server.
            qsizetype remaining = 0;
            for (qsizetype index = next + 1; index < sync->localRecordings.size(); ++index) {
                remaining += sync->cloudNames.contains(CloudRecordStore::recordName(sync->localRecordings[index].id)) ? 0 : 1;
            }
            if (remaining > 0) {
                log("⏭️ CloudKit: Skipping " + number(remaining) + " remaining uploads - cloud server not reachable");
            }
            // What was not uploaded is tried again by the next sync; this one did not do its work.
            log("❌ CloudKit: Full sync ended early (downloaded: " + number(sync->downloaded)
                + ", uploaded: " + number(sync->uploaded) + ")");
            finishFullSync(sync, error);
            return;
        }
        uploadMissing(sync, next + 1);
    });
}

void CloudKitSyncManager::finishFullSync(const std::shared_ptr<FullSync>& sync, const std::exception_ptr& error)
{
    if (fullSync_ == sync) {
        fullSync_.reset();
    }
    for (const Completion& completion : sync->completions) {
        if (completion) {
            completion(error);
        }
    }
}

} // namespace parlino
