#include "app/library/RecordingsManager.hpp"

#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/MP4Duration.hpp"
#include "platform/system/AtomicFileBatch.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/FileTimes.hpp"
#include "platform/system/Folders.hpp"
#include "platform/system/RegularFile.hpp"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>

namespace parlino {

namespace {

// Names the ids of recordings found without sidecar.
const QUuid orphanNamespace = QUuid::fromString(QStringLiteral("6d1f0a52-3c1e-4f9b-9b0e-2a7c5e8d4b10"));

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

QString fileName(const std::filesystem::path& path)
{
    return text(path.filename());
}

// Names the fresh ids given to recordings whose sidecar repeats an id already listed.
const QUuid duplicateNamespace = QUuid::fromString(QStringLiteral("b3a4e7c2-58d1-4e0f-a6c9-1f2d3e4b5a69"));

// Larger sidecars are no description of a recording; even a 100 MB transcript stays far below.
constexpr std::size_t largestSidecar = std::size_t {1} << 30;

// The sidecar a load could not use keeps this suffix beside its recording: not ".json", so no
// load, export or sync reads it again, and not hidden, so the user finds it next to the audio.
constexpr const char* setAsideSuffix = ".damaged";

QByteArray bytesOf(const std::filesystem::path& path)
{
    const std::string& native = path.native();
    return QByteArray(native.data(), static_cast<qsizetype>(native.size()));
}

// From the container's header where it is an MP4, as the library's files are; decoding only for
// audio in another container under the same extension.
double audioDuration(const std::filesystem::path& audioURL)
{
    if (const std::optional<double> seconds = platform::MP4Duration::read(audioURL)) {
        return *seconds;
    }
    const platform::AudioFile audio(audioURL);
    return static_cast<double>(audio.length()) / audio.processingFormat().sampleRate;
}

// The recording a sidecar describes; throws when it cannot be used. The sidecar is never opened
// unless it is a regular file, and then without waiting, so a FIFO or a device in its place
// cannot hold the load up.
Recording readSidecar(const std::filesystem::path& sidecar, const std::filesystem::file_status& status)
{
    if (!std::filesystem::is_regular_file(status)) {
        throw std::runtime_error("not a regular file");
    }
    std::string json;
    try {
        json = platform::RegularFile::read(sidecar, largestSidecar);
    } catch (const std::filesystem::filesystem_error& error) {
        throw std::runtime_error(platform::RegularFile::reason(error));
    }
    return decodeRecording(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
}

// Moves an unusable sidecar out of the way under a name that says so; never replaces a file.
// The new name, or none when it could not be moved.
std::optional<std::filesystem::path> setAside(const std::filesystem::path& sidecar)
{
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::filesystem::path target = sidecar;
        target += setAsideSuffix;
        if (attempt > 1) {
            target += "-" + std::to_string(attempt);
        }
        if (::renameat2(AT_FDCWD, sidecar.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return target;
        }
        if (errno == EINVAL) {
            // A file system that cannot refuse to replace: look first.
            std::error_code error;
            if (!std::filesystem::exists(std::filesystem::symlink_status(target, error))
                && ::rename(sidecar.c_str(), target.c_str()) == 0) {
                return target;
            }
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

const QString voiceMemo = QStringLiteral("Voice Memo");

// What a file named "date_time_Some-title.m4a" is called: the words after the date and time.
QString titleFromFileName(const std::filesystem::path& audioURL)
{
    const QStringList parts = text(audioURL.stem()).split(QLatin1Char('_'));
    if (parts.size() < 3) {
        return voiceMemo;
    }
    return parts.mid(2).join(QLatin1Char(' ')).replace(QLatin1Char('-'), QLatin1Char(' '));
}

bool newerThan(const Recording& a, const Recording& b)
{
    return a.date > b.date;
}

// Stable: recordings of the same date keep their order.
void sortNewestFirst(QList<Recording>& list)
{
    std::stable_sort(list.begin(), list.end(), &newerThan);
}

} // namespace

RecordingsManager& RecordingsManager::shared()
{
    static RecordingsManager* library = [] {
        auto* made = new RecordingsManager(defaultDocumentsURL());
        made->setCloudSync(CloudKitSyncManager::sharedCloudSync());
        return made;
    }();
    return *library;
}

std::filesystem::path RecordingsManager::defaultDocumentsURL()
{
    return platform::Folders::documents() / "Parlino";
}

RecordingsManager::RecordingsManager(const std::filesystem::path& documentsURL, QObject* parent)
    : LibraryService(parent)
    , documentsURL_([&] {
        // Made first, so that its path resolves as it will stay.
        std::error_code error;
        std::filesystem::create_directories(documentsURL, error);
        return std::filesystem::absolute(documentsURL).lexically_normal();
    }())
    , folder_(documentsURL_)
    , sidecarWriter_(&platform::AtomicFileWriter::writeFile)
{
    titleWorkers_.setMaxThreadCount(1);
    printLine(QStringLiteral("📁 Recordings directory: ") + text(documentsURL_));
}

RecordingsManager::~RecordingsManager()
{
    titleWorkers_.waitForDone();
}

void RecordingsManager::setTitleGenerator(TitleGenerator generator)
{
    titleGenerator_ = std::move(generator);
}

void RecordingsManager::setSidecarWriter(SidecarWriter writer)
{
    sidecarWriter_ = std::move(writer);
}

void RecordingsManager::setCloudSync(std::shared_ptr<CloudSync> cloudSync)
{
    cloudSync_ = std::move(cloudSync);
}

std::filesystem::path RecordingsManager::documentsURL() const
{
    return documentsURL_;
}

void RecordingsManager::setIsLoading(bool value)
{
    isLoading_ = value;
    emit isLoadingChanged();
}

void RecordingsManager::setError(std::optional<RecordingsError> value)
{
    error_ = std::move(value);
    emit errorChanged();
}

void RecordingsManager::writeSidecar(const Recording& recording) const
{
    if (!folder_.holdsAudio(recording.audioURL)) {
        throw RecordingsError(RecordingsError::saveFailed);
    }
    const QByteArray json = encodeRecording(recording);
    sidecarWriter_(LibraryFolder::sidecarURL(recording.audioURL),
                   std::string_view(json.constData(), static_cast<std::size_t>(json.size())));
}

void RecordingsManager::loadRecordings()
{
    setIsLoading(true);
    setError(std::nullopt);

    std::vector<std::filesystem::path> audioFiles;
    std::error_code error;
    std::filesystem::directory_iterator entries(documentsURL_, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        // Hidden names and other extensions are files still being written, among others.
        std::error_code typeError;
        if (LibraryFolder::isAudioName(entry.path().filename()) && entry.is_regular_file(typeError)) {
            audioFiles.push_back(entry.path());
        }
    }
    if (error) {
        printLine(QStringLiteral("❌ Failed to load recordings: ") + QString::fromStdString(error.message()));
        setError(RecordingsError(RecordingsError::loadFailed));
        setIsLoading(false);
        return;
    }
    // The folder's own order is arbitrary; by name, equal dates come out the same at every load.
    std::sort(audioFiles.begin(), audioFiles.end());
    printLine(QStringLiteral("📂 Found %1 audio files").arg(audioFiles.size()));

    QList<Recording> loaded;
    // Where each id is listed, and whether the sidecar it came from named its own audio file.
    QHash<QUuid, std::pair<qsizetype, bool>> ids;
    // Sidecars made or rewritten by this load go to the disk together once the list is made.
    platform::AtomicFileBatch sidecars;
    std::vector<std::pair<std::filesystem::path, QString>> written;
    const auto writeLater = [&](const Recording& recording, const QString& doneLine) {
        try {
            const QByteArray json = encodeRecording(recording);
            sidecars.add(LibraryFolder::sidecarURL(recording.audioURL),
                         std::string_view(json.constData(), static_cast<std::size_t>(json.size())));
            written.emplace_back(recording.audioURL, doneLine);
        } catch (const std::exception& failure) {
            printLine(QStringLiteral("⚠️ Failed to load ") + fileName(recording.audioURL) + QStringLiteral(": ") + describe(failure));
        }
    };
    // A copied pair: one of the two gets an id of its own, the same at every load until written.
    const auto giveFreshId = [&](Recording& recording) {
        QUuid fresh = QUuid::createUuidV5(duplicateNamespace, recording.id.toByteArray() + '\n' + bytesOf(recording.audioURL.filename()));
        while (ids.contains(fresh)) {
            fresh = QUuid::createUuid();
        }
        printLine(QStringLiteral("⚠️ Duplicate id in ") + fileName(LibraryFolder::sidecarURL(recording.audioURL))
                  + QStringLiteral(", given a new one: ") + fresh.toString(QUuid::WithoutBraces).toUpper());
        recording.id = fresh;
        ids.insert(fresh, {-1, true});
        writeLater(recording, QStringLiteral("📝 Updated metadata: ") + recording.title);
    };
    for (const std::filesystem::path& audioURL : audioFiles) {
        const std::filesystem::path sidecar = LibraryFolder::sidecarURL(audioURL);
        std::error_code statusError;
        const std::filesystem::file_status status = std::filesystem::symlink_status(sidecar, statusError);
        // A sidecar that cannot be set aside must not be replaced either.
        bool mayWriteSidecar = true;
        if (std::filesystem::exists(status)) {
            try {
                Recording recording = readSidecar(sidecar, status);
                // The copy of a pair is the one whose sidecar names another file.
                const bool namesItsAudio = recording.audioURL == audioURL;
                // The sidecar describes the audio beside it, wherever its stored path points.
                recording.audioURL = audioURL;
                printLine(QStringLiteral("✅ Loaded: ") + recording.title);
                if (const auto listed = ids.constFind(recording.id); listed != ids.cend()) {
                    const auto [index, listedNamesItsAudio] = *listed;
                    if (index >= 0 && namesItsAudio && !listedNamesItsAudio) {
                        giveFreshId(loaded[index]);
                        ids[loaded[index].id] = {index, false};
                    } else {
                        giveFreshId(recording);
                    }
                }
                ids.insert(recording.id, {loaded.size(), namesItsAudio});
                loaded.append(std::move(recording));
                continue;
            } catch (const std::exception& failure) {
                const std::optional<std::filesystem::path> aside = setAside(sidecar);
                mayWriteSidecar = aside.has_value();
                printLine(QStringLiteral("⚠️ Unusable sidecar ") + fileName(sidecar) + QStringLiteral(" (") + describe(failure)
                          + (aside ? QStringLiteral("), set aside as ") + fileName(*aside)
                                   : QStringLiteral("), left in place: it cannot be moved")));
            }
        }
        Recording recording;
        try {
            recording = createMetadataForOrphanAudio(audioURL);
        } catch (const std::exception& failure) {
            printLine(QStringLiteral("⚠️ Failed to load ") + fileName(audioURL) + QStringLiteral(": ") + describe(failure));
            continue;
        }
        while (ids.contains(recording.id)) {
            recording.id = QUuid::createUuid();
        }
        ids.insert(recording.id, {loaded.size(), true});
        loaded.append(recording);
        if (mayWriteSidecar) {
            writeLater(recording, QStringLiteral("📝 Created metadata: ") + recording.title);
        }
    }
    const std::vector<std::exception_ptr> results = sidecars.commit();
    for (std::size_t index = 0; index < results.size(); ++index) {
        const auto& [audioURL, doneLine] = written[index];
        if (results[index]) {
            printLine(QStringLiteral("⚠️ Failed to load ") + fileName(audioURL) + QStringLiteral(": ") + describe(results[index]));
        } else {
            printLine(doneLine);
        }
    }

    sortNewestFirst(loaded);
    setRecordings(loaded);
    setIsLoading(false);

    printLine(QStringLiteral("✅ Loaded %1 recordings").arg(loaded.size()));
    printLine(QStringLiteral("📋 Recordings:"));
    for (qsizetype index = 0; index < std::min<qsizetype>(5, loaded.size()); ++index) {
        printLine(QStringLiteral("  - ") + loaded[index].title + QStringLiteral(" (") + fileName(loaded[index].audioURL)
                  + QStringLiteral(")"));
    }
}

Recording RecordingsManager::createMetadataForOrphanAudio(const std::filesystem::path& audioURL) const
{
    const QStringList parts = text(audioURL.stem()).split(QLatin1Char('_'));

    // The birth time names the file together with its name, and is its date when the name has none.
    const auto created = platform::FileTimes::creationDate(audioURL);
    const auto createdMilliseconds
        = std::chrono::duration_cast<std::chrono::milliseconds>(created.time_since_epoch()).count();
    std::optional<QDateTime> date;
    if (parts.size() >= 2) {
        date = parseRecordingDate(parts[0] + QLatin1Char('_') + parts[1]);
    }
    if (!date) {
        date = QDateTime::fromMSecsSinceEpoch(createdMilliseconds);
    }

    const QString title = titleFromFileName(audioURL);

    Recording recording;
    const auto birthNanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(created.time_since_epoch()).count();
    recording.id = QUuid::createUuidV5(orphanNamespace, bytesOf(audioURL.filename()) + '\n' + QByteArray::number(birthNanoseconds));
    recording.audioURL = audioURL;
    recording.title = title;
    recording.duration = audioDuration(audioURL);
    recording.date = *date;
    recording.category = RecordingCategory::suggestedCategory(QString(), title);
    return recording;
}

std::optional<QDateTime> RecordingsManager::parseRecordingDate(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}_\d{4}$)"));
    if (!form.match(text).hasMatch()) {
        return std::nullopt;
    }
    const QDateTime date = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd_HHmm"));
    if (!date.isValid()) {
        return std::nullopt;
    }
    return date;
}

Recording RecordingsManager::saveRecording(const RecordingResult& result)
{
    if (!result.audioURL || !folder_.holdsAudio(*result.audioURL)) {
        throw RecordingsError(RecordingsError::invalidAudioFile);
    }
    Recording recording;
    recording.id = QUuid::createUuid();
    recording.audioURL = *result.audioURL;
    recording.duration = result.duration > 0 ? result.duration : audioDuration(*result.audioURL);
    recording.title = result.generatedTitle.value_or(voiceMemo);
    recording.transcription = result.transcription;
    recording.date = QDateTime::currentDateTime();
    recording.category = RecordingCategory::suggestedCategory(recording.transcription, recording.title);

    writeSidecar(recording);
    generatedTitles_.insert(recording.id);

    QList<Recording> list = recordings();
    list.prepend(recording);
    setRecordings(std::move(list));
    setLatestSavedRecordingID(recording.id);
    printLine(QStringLiteral("✅ Saved recording: ") + recording.title);

    if (cloudSync_) {
        const QString title = recording.title;
        cloudSync_->uploadRecording(recording, [title](std::exception_ptr error, CloudSync::UploadOutcome outcome) {
            if (error) {
                printLine(QStringLiteral("⚠️ CloudKit upload failed: ") + describe(error));
            } else if (outcome == CloudSync::UploadOutcome::uploaded) {
                printLine(QStringLiteral("☁️ Uploaded to iCloud: ") + title);
            }
        });
    }
    return recording;
}

void RecordingsManager::deleteRecording(const Recording& given)
{
    // A copy: the caller's may be the list's own entry, which goes below.
    const Recording recording = given;
    if (!folder_.holdsAudio(recording.audioURL)) {
        throw RecordingsError(RecordingsError::deleteFailed);
    }
    // Audio that is already gone leaves only the sidecar and the entry to remove.
    for (const std::filesystem::path& file : {recording.audioURL, LibraryFolder::sidecarURL(recording.audioURL)}) {
        std::error_code error;
        std::filesystem::remove(file, error);
        if (error) {
            throw std::filesystem::filesystem_error("Cannot delete the file", file, error);
        }
    }
    QList<Recording> list = recordings();
    list.removeIf([&](const Recording& entry) { return entry.id == recording.id; });
    generatedTitles_.remove(recording.id);
    typedTitles_.remove(recording.id);
    setRecordings(std::move(list));
    printLine(QStringLiteral("🗑️ Deleted: ") + recording.title);
}

void RecordingsManager::updateCategory(const Recording& given, RecordingCategory category)
{
    const Recording recording = given;
    if (editEntry(recording.id, [&](Recording& entry) { entry.category = category; })) {
        printLine(QStringLiteral("📝 Updated category: ") + recording.title + QStringLiteral(" → ") + category.rawValue());
    }
}

void RecordingsManager::updateTitle(const Recording& recording, const QString& givenTitle)
{
    // Copies: the caller's may be the list's own entry, which the edit replaces.
    const QUuid id = recording.id;
    const QString title = givenTitle;
    if (editEntry(id, [&](Recording& entry) { entry.title = title; })) {
        generatedTitles_.remove(id);
        typedTitles_.insert(id);
        printLine(QStringLiteral("📝 Updated title: ") + title);
    }
}

bool RecordingsManager::editEntry(QUuid id, const std::function<void(Recording&)>& edit)
{
    const std::optional<qsizetype> index = indexOf(id);
    if (!index) {
        return false;
    }
    QList<Recording> list = recordings();
    const Recording original = list[*index];
    edit(list[*index]);
    const Recording changed = list[*index];
    setRecordings(list);
    try {
        writeSidecar(changed);
    } catch (...) {
        // What the screens show must be what the next launch finds.
        if (const std::optional<qsizetype> at = indexOf(id)) {
            QList<Recording> current = recordings();
            current[*at] = original;
            setRecordings(std::move(current));
        }
        throw;
    }
    return true;
}

void RecordingsManager::updateTranscription(const Recording& given, const QString& givenTranscription)
{
    const Recording recording = given;
    const QString transcription = givenTranscription;
    const std::optional<qsizetype> index = indexOf(recording.id);
    if (!index) {
        printLine(QStringLiteral("⚠️ Recording not found in list: ")
                  + recording.id.toString(QUuid::WithoutBraces).toUpper());
        return;
    }
    QList<Recording> list = recordings();
    const QString previous = list[*index].transcription;
    printLine(QStringLiteral("📝 Updating transcription at index %1").arg(*index));
    printLine(QStringLiteral("   Old: ") + characterPrefix(previous, 50) + QStringLiteral("..."));
    printLine(QStringLiteral("   New: ") + characterPrefix(transcription, 50) + QStringLiteral("..."));
    list[*index].transcription = transcription;
    setRecordings(std::move(list));

    // The pool is waited for before this object goes, so the posted result never outlives it
    // unnoticed: Qt drops events for an object that is gone.
    titleWorkers_.start([this, id = recording.id, transcription, previous, generator = titleGenerator_] {
        const auto titleOf = [&](const QString& transcript) {
            try {
                return generator ? generator(transcript) : QString();
            } catch (...) {
                return QString();
            }
        };
        const QString title = titleOf(transcription);
        // What an earlier re-titling would have made of the old transcript.
        const QString previousTitle = previous.isEmpty() ? QString() : titleOf(previous);
        QMetaObject::invokeMethod(
            this, [this, id, transcription, title, previousTitle] {
                finishTitleUpdate(id, transcription, title, previousTitle);
            },
            Qt::QueuedConnection);
    });
}

bool RecordingsManager::titleIsGenerated(const Recording& entry, const QString& titleOfPreviousTranscript) const
{
    if (typedTitles_.contains(entry.id)) {
        return false;
    }
    if (generatedTitles_.contains(entry.id)) {
        return true;
    }
    return entry.title == voiceMemo || entry.title == titleFromFileName(entry.audioURL)
        || (!titleOfPreviousTranscript.isEmpty() && entry.title == titleOfPreviousTranscript);
}

void RecordingsManager::finishTitleUpdate(
    const QUuid& id, const QString& transcription, const QString& title, const QString& titleOfPreviousTranscript)
{
    printLine(QStringLiteral("🏷️ Generated new title: ") + title);
    const std::optional<qsizetype> index = indexOf(id);
    if (!index) {
        printLine(QStringLiteral("⚠️ Recording was deleted before title update completed"));
        emit titleUpdateFinished(id);
        return;
    }
    QList<Recording> list = recordings();
    if (!title.isEmpty()) {
        if (titleIsGenerated(list[*index], titleOfPreviousTranscript)) {
            list[*index].title = title;
            generatedTitles_.insert(id);
            printLine(QStringLiteral("✅ Title updated to: ") + title);
        } else {
            printLine(QStringLiteral("   Title kept (typed by the user): ") + list[*index].title);
        }
    }
    const Recording changed = list[*index];
    setRecordings(std::move(list));
    try {
        writeSidecar(changed);
        printLine(QStringLiteral("💾 Metadata saved successfully"));
    } catch (const std::exception& failure) {
        printLine(QStringLiteral("❌ Failed to save metadata: ") + describe(failure));
    }
    printLine(QStringLiteral("📝 Update complete! Transcription: %1 chars, Title: ").arg(characterCount(transcription)) + title);
    emit titleUpdateFinished(id);
}

void RecordingsManager::syncWithCloud(Completion completion)
{
    printLine(QStringLiteral("🔄 Starting CloudKit sync..."));
    const auto finish = [self = QPointer(this), completion](std::exception_ptr error) {
        if (error) {
            const QString reason = describe(error);
            printLine(QStringLiteral("⚠️ CloudKit sync failed: ") + reason);
            if (self) {
                emit self->syncFailed(reason);
            }
        } else {
            printLine(QStringLiteral("✅ CloudKit sync complete"));
        }
        if (completion) {
            completion();
        }
    };
    if (!cloudSync_) {
        QMetaObject::invokeMethod(this, [finish] { finish(nullptr); }, Qt::QueuedConnection);
        return;
    }
    cloudSync_->performFullSync(recordings(), QPointer<RecordingsManager>(this), finish);
}

bool RecordingsManager::appendDownloadedRecording(const Recording& given, DownloadedSidecar sidecar)
{
    const Recording recording = given;
    if (!folder_.holdsAudio(recording.audioURL) || indexOf(recording.id)) {
        return false;
    }
    QList<Recording> list = recordings();
    list.append(recording);
    setRecordings(std::move(list));
    if (sidecar == DownloadedSidecar::toWrite) {
        try {
            writeSidecar(recording);
        } catch (const std::exception&) {
        }
    }
    return true;
}

QList<Recording> RecordingsManager::appendDownloadedRecordings(const std::vector<DownloadedRecording>& downloaded)
{
    QList<Recording> added;
    QSet<QUuid> addedIDs;
    for (const DownloadedRecording& entry : downloaded) {
        const Recording& recording = entry.recording;
        if (!folder_.holdsAudio(recording.audioURL) || indexOf(recording.id) || addedIDs.contains(recording.id)) {
            continue;
        }
        addedIDs.insert(recording.id);
        added.append(recording);
        if (entry.sidecar == DownloadedSidecar::toWrite) {
            try {
                writeSidecar(recording);
            } catch (const std::exception&) {
            }
        }
    }
    if (added.isEmpty()) {
        return added;
    }
    QList<Recording> incoming = added;
    sortNewestFirst(incoming);
    // Moved, not copied, and compared only where each newcomer goes: a slice costs little more
    // than moving the list once, however long it is.
    QList<Recording> listed = takeRecordings();
    QList<Recording> list;
    list.reserve(listed.size() + incoming.size());
    auto from = listed.begin();
    for (Recording& recording : incoming) {
        // After the listed recordings of its date, where a stable sort after appending puts it.
        const auto to = std::upper_bound(from, listed.end(), recording, &newerThan);
        std::move(from, to, std::back_inserter(list));
        list.append(std::move(recording));
        from = to;
    }
    std::move(from, listed.end(), std::back_inserter(list));
    setRecordings(std::move(list));
    return added;
}

void RecordingsManager::sortRecordingsNewestFirst()
{
    if (std::is_sorted(recordings().begin(), recordings().end(), &newerThan)) {
        return;
    }
    QList<Recording> list = recordings();
    sortNewestFirst(list);
    setRecordings(std::move(list));
}

} // namespace parlino
