#include "app/library/CloudRecordStore.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/LibraryFolder.hpp"
#include "app/library/SyncError.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "platform/cloud/CloudError.hpp"
#include "platform/system/AtomicFileWriter.hpp"

#include <chrono>
#include <cmath>

namespace parlino {

namespace {

using platform::cloud::Asset;
using platform::cloud::CloudError;
using platform::cloud::Database;
using platform::cloud::Record;
using platform::cloud::RecordZone;
using platform::cloud::ServerChangeToken;

Record::Date recordDate(const QDateTime& date)
{
    return Record::Date(std::chrono::milliseconds(date.toMSecsSinceEpoch()));
}

QDateTime dateOf(const Record::Date& date)
{
    const auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(milliseconds.count(), Qt::UTC);
}

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// A private copy of the audio made for one upload, removed when the upload is over.
class TemporaryAudioCopy {
public:
    TemporaryAudioCopy(const std::filesystem::path& audioURL, const CloudScratchFiles& scratch)
    {
        std::error_code error;
        if (!std::filesystem::exists(audioURL, error)) {
            throw SyncError(SyncError::assetUploadFailed);
        }
        path_ = scratch.copyForUpload(audioURL);
    }
    ~TemporaryAudioCopy()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TemporaryAudioCopy(const TemporaryAudioCopy&) = delete;
    TemporaryAudioCopy& operator=(const TemporaryAudioCopy&) = delete;

    Asset asset() const { return Asset(path_); }

private:
    std::filesystem::path path_;
};

// What lies at a recording's audio path: an empty file stands in for audio still to come.
enum class AudioInPlace { none, placeholder, complete };

AudioInPlace audioAt(const std::filesystem::path& destination)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(destination, error);
    if (error || status.type() == std::filesystem::file_type::not_found) {
        return AudioInPlace::none;
    }
    if (status.type() == std::filesystem::file_type::regular && std::filesystem::file_size(destination, error) == 0
        && !error) {
        return AudioInPlace::placeholder;
    }
    return AudioInPlace::complete;
}

const Asset* audioAssetOf(const Record& record)
{
    const Asset* asset = record.get<Asset>("audioAsset");
    return asset && !asset->fileURL().empty() ? asset : nullptr;
}

std::filesystem::path audioDestination(const std::filesystem::path& folder, const QUuid& id)
{
    return folder / (CloudRecordStore::recordName(id) + ".m4a");
}

// Puts a fetched asset's file at `destination`: renamed there when it can be, else copied.
void placeAsset(const Asset& asset, const std::filesystem::path& destination)
{
    if (!asset.moveFile(destination)) {
        platform::AtomicFileWriter::copyFile(asset.fileURL(), destination);
    }
}

bool isUnreachable(CloudError::Code code)
{
    return code == CloudError::Code::networkUnavailable || code == CloudError::Code::networkFailure
        || code == CloudError::Code::serviceUnavailable;
}

// Fetches every change since `since`, batch after batch, handing each record to `take`; returns
// where the last batch ended.
template <typename Take>
ServerChangeToken fetchAllChanges(const Database& database, const RecordZone::ID& zoneID,
                                  std::optional<ServerChangeToken> since, const Database::DesiredKeys& desiredKeys,
                                  Take&& take)
{
    while (true) {
        auto changes = database.recordZoneChanges(zoneID, since, desiredKeys);
        for (Record& record : changes.modifications) {
            take(std::move(record));
        }
        if (!changes.moreComing) {
            return changes.changeToken;
        }
        since = changes.changeToken;
    }
}

} // namespace

CloudRecordStore::CloudRecordStore(Setup setup)
    : setup_(std::move(setup))
{
}

std::optional<QUuid> CloudRecordStore::recordingID(const std::string& recordName)
{
    constexpr std::size_t uuidLength = 36;
    if (recordName.size() != uuidLength) {
        return std::nullopt;
    }
    const QString text = QString::fromStdString(recordName);
    const QUuid id = QUuid::fromString(text);
    // fromString also takes other forms; only the plain one names a file.
    if (id.isNull() || id.toString(QUuid::WithoutBraces).compare(text, Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    return id;
}

std::string CloudRecordStore::recordName(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

void CloudRecordStore::createZoneIfNeeded(bool& zoneKnown) const
{
    if (zoneKnown) {
        return;
    }
    setup_.log("☁️ CloudKit: Creating custom zone '" + setup_.zoneID.zoneName + "'...");
    try {
        setup_.database.save(RecordZone(setup_.zoneID));
        zoneKnown = true;
        setup_.log("✅ CloudKit: Zone created successfully");
    } catch (const std::exception& error) {
        const auto* cloudError = dynamic_cast<const CloudError*>(&error);
        if ((cloudError && cloudError->code() == CloudError::Code::serverRecordChanged)
            || contains(error.what(), "already exists")) {
            zoneKnown = true;
            setup_.log("☁️ CloudKit: Zone already exists (OK)");
            return;
        }
        setup_.log(std::string("❌ CloudKit: Failed to create zone: ") + error.what());
        throw;
    }
}

Record CloudRecordStore::makeCKRecord(const Recording& recording) const
{
    return makeCKRecord(recording, setup_.zoneID, setup_.recordType, setup_.deviceID, setup_.clock());
}

Record CloudRecordStore::makeCKRecord(const Recording& recording, const RecordZone::ID& zoneID,
                                      const std::string& recordType, const QString& deviceID,
                                      const QDateTime& modifiedAt)
{
    Record record(recordType, Record::ID {recordName(recording.id), zoneID});
    record.set("title", recording.title.toStdString());
    record.set("transcription", recording.transcription.toStdString());
    record.set("duration", recording.duration);
    record.set("date", recordDate(recording.date));
    record.set("category", recording.category.rawValue().toStdString());
    record.set("deviceID", deviceID.toStdString());
    record.set("modifiedAt", recordDate(modifiedAt));
    return record;
}

CloudRecordStore::Upload CloudRecordStore::uploadRecording(const Recording& recording, bool& zoneKnown) const
{
    const std::string title = escapeControls(recording.title.toStdString());
    std::string description;
    bool unreachable = false;
    try {
        createZoneIfNeeded(zoneKnown);
        Record record = makeCKRecord(recording);
        const TemporaryAudioCopy audio(recording.audioURL, setup_.scratch);
        record.set("audioAsset", audio.asset());
        const Record saved = setup_.database.save(record);
        setup_.log("✅ Uploaded: " + saved.recordID().recordName);
        return {.result = UploadResult::saved};
    } catch (const CloudError& error) {
        description = error.what();
        unreachable = isUnreachable(error.code());
    } catch (...) {
        description = describe(std::current_exception()).toStdString();
    }

    if (contains(description, "already exists") || contains(description, "serverRecordChanged")) {
        setup_.log("☁️ CloudKit: Already in cloud: " + title);
        return {.result = UploadResult::alreadyInCloud};
    }
    if (!contains(description, "Quota exceeded") && !contains(description, "quotaExceeded")) {
        setup_.log("❌ Upload failed for " + title + ": " + description);
        return {.result = UploadResult::failed, .failureDescription = description, .serverUnreachable = unreachable};
    }

    setup_.log("⚠️ CloudKit: Quota exceeded for " + title + ", uploading metadata only...");
    try {
        const Record saved = setup_.database.save(makeCKRecord(recording));
        setup_.log("✅ Uploaded metadata (no audio): " + saved.recordID().recordName);
        return {.result = UploadResult::savedWithoutAudio};
    } catch (const CloudError& error) {
        setup_.log("❌ Even metadata upload failed for " + title + ": " + error.what());
        unreachable = isUnreachable(error.code());
    } catch (...) {
        setup_.log("❌ Even metadata upload failed for " + title + ": " + describe(std::current_exception()).toStdString());
    }
    // The quota is what the user must know about, not the retry's own failure.
    return {.result = UploadResult::failed, .failureDescription = description, .serverUnreachable = unreachable};
}

CloudRecordStore::DownloadBatch CloudRecordStore::downloadBatch(const std::optional<ServerChangeToken>& since,
                                                                QSet<QUuid>& taken, const std::filesystem::path& folder,
                                                                bool& zoneKnown) const
{
    createZoneIfNeeded(zoneKnown);
    platform::cloud::RecordZoneChanges changes = setup_.database.recordZoneChanges(setup_.zoneID, since);
    DownloadBatch batch {.changeToken = changes.changeToken, .moreComing = changes.moreComing};
    for (const platform::cloud::SkippedAsset& skipped : changes.skippedAssets) {
        setup_.log("⚠️ CloudKit: Skipping audio of " + escapeControls(skipped.recordID.recordName) + " - "
                   + std::to_string(skipped.bytes / 1'000'000) + " MB is over the "
                   + std::to_string(setup_.database.maxAssetBytes() >> 20) + " MiB limit");
    }
    // Each record's asset goes into the library (or away) before the next one's, and the answer's
    // cached files are gone when it is.
    for (Record& record : changes.modifications) {
        if (record.recordType() != setup_.recordType) {
            continue;
        }
        ++batch.recordCount;
        const Record current = std::move(record);
        const std::optional<QUuid> id = recordingID(current.recordID().recordName);
        // Ids taken so far, so that two names of one UUID never make two recordings.
        if (id && taken.contains(*id)) {
            // Audio that was missing when the recording came down arrives with a later copy of it.
            const std::filesystem::path destination = audioDestination(folder, *id);
            const Asset* asset = audioAssetOf(current);
            if (asset && audioAt(destination) == AudioInPlace::placeholder) {
                placeAsset(*asset, destination);
            }
            continue;
        }
        std::optional<DownloadedRecording> recording = recordingFromCKRecord(current, folder);
        if (recording) {
            taken.insert(recording->recording.id);
            batch.recordings.push_back(std::move(*recording));
        }
    }
    return batch;
}

std::set<std::string> CloudRecordStore::cloudRecordIDs(bool& zoneKnown) const
{
    std::set<std::string> names;
    try {
        createZoneIfNeeded(zoneKnown);
        // Names and types are all the listing needs; the assets stay on the server.
        fetchAllChanges(setup_.database, setup_.zoneID, std::nullopt, std::vector<std::string> {}, [&](Record&& record) {
            if (record.recordType() == setup_.recordType) {
                names.insert(record.recordID().recordName);
            }
        });
    } catch (const std::exception& error) {
        setup_.log(std::string("⚠️ CloudKit: getCloudRecordIDs failed: ") + error.what());
        return {};
    }
    return names;
}

std::optional<CloudRecordStore::DownloadedRecording> CloudRecordStore::recordingFromCKRecord(const Record& record,
                                                                 const std::filesystem::path& folder) const
{
    const std::string& name = record.recordID().recordName;
    const auto* title = record.get<std::string>("title");
    const auto* transcription = record.get<std::string>("transcription");
    const auto* duration = record.get<double>("duration");
    const auto* date = record.get<Record::Date>("date");
    const auto* categoryText = record.get<std::string>("category");
    const auto category = categoryText ? RecordingCategory::fromRawValue(QString::fromStdString(*categoryText))
                                       : std::nullopt;
    // The name becomes a file name, so it must be nothing but a UUID.
    const std::optional<QUuid> id = recordingID(name);
    if (!title || !transcription || !duration || !std::isfinite(*duration) || *duration < 0 || !date || !category
        || !id) {
        setup_.log("❌ Invalid record format: " + escapeControls(name));
        return std::nullopt;
    }

    Recording recording;
    recording.id = *id;
    recording.audioURL = audioDestination(folder, *id);
    recording.title = QString::fromStdString(*title);
    recording.transcription = QString::fromStdString(*transcription);
    recording.duration = *duration;
    recording.date = dateOf(*date);
    recording.category = *category;

    // The sidecar goes first: a library load in between then never takes the audio for a file
    // without sidecar and gives it a new id.
    bool sidecarWritten = true;
    try {
        const QByteArray json = encodeRecording(recording);
        platform::AtomicFileWriter::writeFile(LibraryFolder::sidecarURL(recording.audioURL),
                                              std::string_view(json.constData(), static_cast<std::size_t>(json.size())));
    } catch (const std::exception&) {
        sidecarWritten = false;
    }

    const AudioInPlace inPlace = audioAt(recording.audioURL);
    if (const Asset* asset = audioAssetOf(record)) {
        if (inPlace != AudioInPlace::complete) {
            placeAsset(*asset, recording.audioURL);
        }
    } else if (inPlace == AudioInPlace::none) {
        platform::AtomicFileWriter::writeFile(recording.audioURL, {});
        setup_.log("⚠️ CloudKit: No audio for " + escapeControls(*title) + " (metadata only)");
    }
    return DownloadedRecording {.recording = std::move(recording), .sidecarWritten = sidecarWritten};
}

} // namespace parlino
