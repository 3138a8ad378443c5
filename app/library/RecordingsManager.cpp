#include "app/library/RecordingsManager.hpp"

#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/ConsoleLine.hpp"
#include "app/library/FolderScan.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "app/support/RunThenPost.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/MP4Duration.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/FileTimes.hpp"
#include "platform/system/Folders.hpp"

#include <QHash>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>

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
    loadWorkers_.setMaxThreadCount(1);
    connect(this, &LibraryService::recordingsChanged, this, [this] { ++listGeneration_; });
    printLine(QStringLiteral("📁 Recordings directory: ") + text(documentsURL_));
}

RecordingsManager::~RecordingsManager()
{
    loadWorkers_.waitForDone();
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
    publish(FolderScan::run(documentsURL_, &RecordingsManager::createMetadataForOrphanAudio));
}

void RecordingsManager::refreshRecordings()
{
    if (refreshing_) {
        refreshAgain_ = true;
        return;
    }
    refreshing_ = true;
    refreshAgain_ = false;
    setIsLoading(true);
    // Changes made to the list meanwhile would be lost under the scan's older view of the folder.
    const std::uint64_t generation = listGeneration_;
    runThenPost(
        loadWorkers_, this,
        [folder = documentsURL_, memory = scanMemory_] {
            FolderScan::Outcome outcome = FolderScan::run(folder, &RecordingsManager::createMetadataForOrphanAudio, memory);
            if (!outcome.changed) {
                // Nothing to publish: a large list is let go here rather than on the main thread.
                outcome.recordings = {};
            }
            return outcome;
        },
        [self = QPointer(this), generation](FolderScan::Outcome outcome) {
            if (!self) {
                return;
            }
            self->refreshing_ = false;
            if (self->listGeneration_ != generation || self->refreshAgain_) {
                self->refreshRecordings();
                return;
            }
            if (outcome.failure || outcome.changed) {
                self->setError(std::nullopt);
                self->publish(std::move(outcome));
            } else {
                // The memory it replaces goes on the worker too.
                self->loadWorkers_.start([earlier = std::exchange(self->scanMemory_, outcome.memory)] {});
                printLine(QStringLiteral("✅ Loaded %1 recordings").arg(self->recordings().size()));
                self->setIsLoading(false);
            }
        });
}

void RecordingsManager::publish(FolderScan::Outcome outcome)
{
    if (outcome.failure) {
        printLine(QStringLiteral("❌ Failed to load recordings: ") + QString::fromStdString(*outcome.failure));
        setError(RecordingsError(RecordingsError::loadFailed));
        setIsLoading(false);
        return;
    }
    scanMemory_ = std::move(outcome.memory);
    const QList<Recording>& loaded = outcome.recordings;
    setRecordings(loaded);
    setIsLoading(false);

    printLine(QStringLiteral("✅ Loaded %1 recordings").arg(loaded.size()));
    printLine(QStringLiteral("📋 Recordings:"));
    for (qsizetype index = 0; index < std::min<qsizetype>(5, loaded.size()); ++index) {
        printLine(QStringLiteral("  - ") + loaded[index].title + QStringLiteral(" (") + fileName(loaded[index].audioURL)
                  + QStringLiteral(")"));
    }
}

Recording RecordingsManager::createMetadataForOrphanAudio(const std::filesystem::path& audioURL)
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
    runThenPost(
        titleWorkers_, this,
        [transcription, previous, generator = titleGenerator_] {
            const auto titleOf = [&](const QString& transcript) {
                try {
                    return generator ? generator(transcript) : QString();
                } catch (...) {
                    return QString();
                }
            };
            QString title = titleOf(transcription);
            // What an earlier re-titling would have made of the old transcript.
            QString previousTitle = previous.isEmpty() ? QString() : titleOf(previous);
            return std::make_pair(std::move(title), std::move(previousTitle));
        },
        [this, id = recording.id, transcription](std::pair<QString, QString> titles) {
            finishTitleUpdate(id, transcription, titles.first, titles.second);
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
        postTo(this, [finish] { finish(nullptr); });
        return;
    }
    cloudSync_->performFullSync(recordings(), QPointer<RecordingsManager>(this), finish);
}

bool RecordingsManager::canSyncWithCloud() const
{
    return cloudSync_ && cloudSync_->isAvailable();
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
