#pragma once

#include "app/library/CloudRecordStore.hpp"
#include "app/library/CloudSync.hpp"
#include "app/library/SyncError.hpp"
#include "app/library/SyncStatus.hpp"
#include "platform/cloud/CloudConfiguration.hpp"
#include "platform/cloud/Container.hpp"
#include "platform/cloud/ServerChangeToken.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUuid>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace parlino {

// Mirrors the recordings library into the private cloud database: the upload after each save and
// the full synchronisation that downloads what is new and uploads what the cloud lacks.
//
// Lives on the main thread, where its published state changes and its completions run. Every
// database call runs on one worker, and one full sync runs at a time: a second request while one
// runs joins it and finishes with it. Whether the cloud may be used at all is decided once, at
// creation, from the entitlements file and the configured account.
class CloudKitSyncManager : public QObject, public CloudSync {
    Q_OBJECT
    Q_PROPERTY(bool isSyncing READ isSyncing NOTIFY isSyncingChanged)

public:
    using SyncError = parlino::SyncError;
    using SyncStatus = parlino::SyncStatus;
    using Log = CloudRecordStore::Log;
    using Clock = CloudRecordStore::Clock;

    static constexpr char containerIdentifier[] = "iCloud.com.OrvandaNote";
    static constexpr char zoneName[] = "RecordingsZone";
    static constexpr char recordTypeName[] = "Recording";
    static constexpr char deviceIDKey[] = "deviceID";
    static constexpr char zoneCreatedKey[] = "cloudKitZoneCreated";
    static constexpr char changeTokenKey[] = "cloudKitChangeToken";
    static constexpr char fullRescanDoneKey[] = "cloudKit_v2_fullRescan_done";

    // What a manager is made over.
    struct Environment {
        platform::cloud::CloudConfiguration configuration;
        // Nullopt when the program's own folder is unknown.
        std::optional<std::filesystem::path> entitlementsFile;
        // Not owned; outlives the manager.
        platform::UserDefaults* defaults = nullptr;
        // Where upload copies are made: private, and emptied of leftovers at the next start.
        std::filesystem::path temporaryFolder;
        Clock clock;
        // Called from the worker as well as the main thread.
        Log log;

        // $PARLINO_CLOUD_URL, the entitlements file beside the executable, the user's settings,
        // the system's temporary folder and clock, and the system log.
        static Environment standard();
    };

    // Where the standard environment keeps the copies of recordings made for uploads.
    static std::filesystem::path standardUploadsFolder();
    // The application's manager over the standard environment, made on first use.
    static CloudKitSyncManager& shared();
    // A CloudSync that reaches `shared()`, making it only at the first upload or sync.
    static std::shared_ptr<CloudSync> sharedCloudSync();

    explicit CloudKitSyncManager(Environment environment, QObject* parent = nullptr);
    // Waits for the database call under way; what it reports, and what was still to come, is dropped.
    ~CloudKitSyncManager() override;

    bool isSyncing() const { return isSyncing_; }
    // When the last upload or download succeeded.
    const std::optional<QDateTime>& lastSyncDate() const { return lastSyncDate_; }
    // The account problem last found; never cleared.
    const std::optional<SyncError>& syncError() const { return syncError_; }
    const SyncStatus& syncStatus() const { return syncStatus_; }

    bool cloudKitAvailable() const { return cloudKitAvailable_; }
    bool isAvailable() const override { return cloudKitAvailable_; }
    const QString& deviceID() const { return deviceID_; }
    const std::string& recordType() const { return recordType_; }
    const platform::cloud::RecordZone::ID& customZoneID() const { return customZoneID_; }

    // Fails only with SyncError::uploadFailed; skipped at once when the cloud is not available.
    void uploadRecording(const Recording& recording, UploadCompletion completion) override;
    // Fails only with SyncError::downloadFailed.
    void performFullSync(const QList<Recording>& localRecordings, QPointer<RecordingsManager> library,
                         Completion completion) override;
    // True when the account can be used; never fails.
    void checkAccountStatus(std::function<void(bool available)> completion);

    platform::cloud::Record makeCKRecord(const Recording& recording) const;
    std::optional<platform::cloud::ServerChangeToken> loadChangeToken() const;
    // Nullopt removes the stored token.
    void saveChangeToken(const std::optional<platform::cloud::ServerChangeToken>& token);

signals:
    void isSyncingChanged();
    void lastSyncDateChanged();
    void syncErrorChanged();
    void syncStatusChanged();

private:
    struct FullSync;
    struct Download;

    bool hasICloudEntitlement() const;
    QString loadOrCreateDeviceID();

    void downloadNewRecordings(const std::shared_ptr<FullSync>& sync, QSet<QUuid> localIDs);
    void fetchBatch(const std::shared_ptr<FullSync>& sync, const std::shared_ptr<Download>& download);
    void mergeBatch(const std::shared_ptr<FullSync>& sync, const std::shared_ptr<Download>& download,
                    const std::shared_ptr<CloudRecordStore::DownloadBatch>& batch, std::size_t from);
    void failDownload(const std::shared_ptr<FullSync>& sync, const std::shared_ptr<Download>& download,
                      const std::exception_ptr& failure);
    void getCloudRecordIDs(std::function<void(std::set<std::string>)> completion);
    void continueAfterAccountCheck(const std::shared_ptr<FullSync>& sync, bool available);
    void continueAfterDownload(const std::shared_ptr<FullSync>& sync, const std::exception_ptr& error);
    void continueAfterListing(const std::shared_ptr<FullSync>& sync, std::set<std::string> cloudNames);
    void uploadMissing(const std::shared_ptr<FullSync>& sync, qsizetype next);
    void finishFullSync(const std::shared_ptr<FullSync>& sync, const std::exception_ptr& error);

    // Runs `action` here, after the caller has returned.
    void later(std::function<void()> action);

    bool zoneKnown() const;
    void rememberZone(bool knownBefore, bool knownAfter);
    void begin();
    void setIsSyncing(bool value);
    void setLastSyncDate(std::optional<QDateTime> value);
    void setSyncError(std::optional<SyncError> value);
    void setSyncStatus(SyncStatus value);
    void log(const std::string& line) const { environment_.log(line); }

    Environment environment_;
    bool isSyncing_ = false;
    std::optional<QDateTime> lastSyncDate_;
    std::optional<SyncError> syncError_;
    SyncStatus syncStatus_;
    std::optional<platform::cloud::Container> container_;
    std::optional<platform::cloud::Database> privateDatabase_;
    std::string recordType_ = recordTypeName;
    bool cloudKitAvailable_ = false;
    platform::cloud::RecordZone::ID customZoneID_ {zoneName};
    QString deviceID_;
    std::shared_ptr<const CloudRecordStore> store_;
    std::shared_ptr<FullSync> fullSync_;
    // Whether the last upload failed because the server could not be reached.
    bool lastUploadUnreachable_ = false;
    // Scratch files older than this are an earlier run's leftovers, removed before the first download.
    std::filesystem::file_time_type startedAt_ = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(1);
    bool leftoversRemoved_ = false;
    // Waited for before this object goes, as what it posts here needs.
    QThreadPool worker_;
};

} // namespace parlino
