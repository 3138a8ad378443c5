#pragma once

#include "app/library/CloudScratchFiles.hpp"
#include "app/recorder/Recording.hpp"
#include "platform/cloud/Database.hpp"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QUuid>

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace parlino {

// The database work of the cloud sync: recordings to records and back, the zone, uploads, the
// zone-change download and the listing of record names. Every call is synchronous and blocks on
// the server, so the sync manager runs them on its worker. Nothing here touches the settings or a
// Qt object: what must be stored comes back to the caller (`zoneKnown`, the change token).
class CloudRecordStore {
public:
    using Log = std::function<void(const std::string& line)>;
    using Clock = std::function<QDateTime()>;

    struct Setup {
        platform::cloud::Database database;
        platform::cloud::RecordZone::ID zoneID;
        std::string recordType;
        QString deviceID;
        // Where the audio copies for uploads are made (and removed again).
        CloudScratchFiles scratch;
        Clock clock;
        Log log;
    };

    enum class UploadResult { saved, savedWithoutAudio, alreadyInCloud, failed };
    struct Upload {
        UploadResult result = UploadResult::failed;
        // What failed, for `failed`.
        std::string failureDescription;
        // For `failed`: the server could not be reached or stopped answering, so later uploads of
        // the same run would fail alike.
        bool serverUnreachable = false;
    };

    struct DownloadedRecording {
        Recording recording;
        // False when the sidecar could not be written; the library tries again.
        bool sidecarWritten = false;
    };
    // One answer of the zone-change fetch, written into the library folder.
    struct DownloadBatch {
        // New recordings whose audio is in the library folder.
        std::vector<DownloadedRecording> recordings;
        // How many records of the recording type the answer held.
        std::size_t recordCount = 0;
        // Where the answer ended: to be stored once its recordings are in the library.
        platform::cloud::ServerChangeToken changeToken {0, 0};
        bool moreComing = false;
    };

    explicit CloudRecordStore(Setup setup);

    const platform::cloud::RecordZone::ID& zoneID() const { return setup_.zoneID; }
    const std::string& recordType() const { return setup_.recordType; }
    const CloudScratchFiles& scratch() const { return setup_.scratch; }
    void log(const std::string& line) const { setup_.log(line); }

    // Saves the zone unless `zoneKnown`; true afterwards when it exists. Failures other than those
    // that mean the zone exists are logged and rethrown.
    void createZoneIfNeeded(bool& zoneKnown) const;

    platform::cloud::Record makeCKRecord(const Recording& recording) const;
    static platform::cloud::Record makeCKRecord(const Recording& recording,
                                                const platform::cloud::RecordZone::ID& zoneID,
                                                const std::string& recordType, const QString& deviceID,
                                                const QDateTime& modifiedAt);

    // Saves the recording with its audio; an exceeded quota saves it once more without. Logs the
    // outcome; never throws.
    Upload uploadRecording(const Recording& recording, bool& zoneKnown) const;

    // The next answer of changes since `since`: its recordings whose ids are not in `taken` (which
    // gains them), with their sidecars and audio written into `folder`, so that at any moment no more
    // than one answer's assets wait on the disk. Throws platform::cloud::CloudError from the server,
    // and the file system's error when an audio file cannot be written.
    DownloadBatch downloadBatch(const std::optional<platform::cloud::ServerChangeToken>& since, QSet<QUuid>& taken,
                                const std::filesystem::path& folder, bool& zoneKnown) const;

    // The names of every recording record in the zone; empty, with a log line, when that fails.
    std::set<std::string> cloudRecordIDs(bool& zoneKnown) const;

    // Nullopt, with a log line, for a record that is no valid recording. Otherwise writes the
    // sidecar into `folder`, then the audio (an empty file when the record carries none), and
    // returns the recording; throws when the audio cannot be written.
    std::optional<DownloadedRecording> recordingFromCKRecord(const platform::cloud::Record& record,
                                                   const std::filesystem::path& folder) const;

    // The recording id a record name stands for: only the 36-character hyphenated form of a UUID
    // (either case), never the nil UUID.
    static std::optional<QUuid> recordingID(const std::string& recordName);
    // The record name of a recording: its id in upper case with hyphens.
    static std::string recordName(const QUuid& id);

private:
    Setup setup_;
};

} // namespace parlino
