#pragma once

#include "app/library/CloudSync.hpp"
#include "app/library/FolderScan.hpp"
#include "app/library/LibraryFolder.hpp"
#include "app/library/LibraryService.hpp"
#include "app/library/RecordingsError.hpp"

#include <QDateTime>
#include <QSet>
#include <QThreadPool>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace parlino {

// The recordings library: the saved recordings, newest first, and their files, each an AAC file with
// a JSON sidecar of the same base name directly in the recordings folder. Lives on the main thread;
// its file work runs there too, except for making titles from edited transcripts.
//
// Every sidecar it writes replaces the old one whole (written beside it, then renamed), and it never
// touches a file outside its folder: an audio path from a sidecar or a caller that lies elsewhere is
// refused, and a sidecar is always read as describing the audio file beside it.
class RecordingsManager : public LibraryService {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)

public:
    // Makes a title from a transcript; runs on a worker thread. An empty title keeps the old one.
    using TitleGenerator = std::function<QString(const QString& transcript)>;
    // Puts a sidecar's bytes in place whole; throws when it cannot. Replaced in tests to fail as a
    // full disk does.
    using SidecarWriter = std::function<void(const std::filesystem::path& sidecar, std::string_view json)>;

    // The application's library over `defaultDocumentsURL()`, made on first use.
    static RecordingsManager& shared();
    // "$XDG_DOCUMENTS_DIR/Parlino".
    static std::filesystem::path defaultDocumentsURL();

    // Makes the folder when it is missing.
    explicit RecordingsManager(const std::filesystem::path& documentsURL, QObject* parent = nullptr);
    // Waits for title work still running; its results are dropped.
    ~RecordingsManager() override;

    void setTitleGenerator(TitleGenerator generator);
    void setSidecarWriter(SidecarWriter writer);
    void setCloudSync(std::shared_ptr<CloudSync> cloudSync);

    bool isLoading() const { return isLoading_; }
    // `loadFailed` after a load that could not list the folder; cleared when a load starts.
    const std::optional<RecordingsError>& error() const { return error_; }

    std::filesystem::path documentsURL() const override;
    void loadRecordings() override;
    // Scans on a worker thread, reading only the sidecars changed since the last load, and
    // publishes only when the folder changed; `isLoading` is true until then.
    void refreshRecordings() override;
    void syncWithCloud(Completion completion = {}) override;
    bool canSyncWithCloud() const override;
    // Throws RecordingsError::invalidAudioFile for a result without audio or with audio outside
    // the folder, the audio layer's error when the duration must be read and cannot be, and the
    // file system's when the sidecar cannot be written.
    Recording saveRecording(const RecordingResult& result) override;
    // Removes the audio (when still there), the sidecar and the list entries. Throws
    // RecordingsError::deleteFailed for audio outside the folder, else the file system's error.
    void deleteRecording(const Recording& recording) override;
    // An edit whose sidecar cannot be written is undone in the list, and the error thrown.
    void updateCategory(const Recording& recording, RecordingCategory category) override;
    void updateTitle(const Recording& recording, const QString& title) override;
    // Changes the transcript at once; the sidecar follows later, with a title made from the new
    // transcript when the old title was made by the program rather than typed by the user.
    void updateTranscription(const Recording& recording, const QString& transcription) override;

    // The record for an audio file found without sidecar. Its id comes from the file's name and
    // birth time, so it stays the same across loads even while no sidecar can be written.
    static Recording createMetadataForOrphanAudio(const std::filesystem::path& audioURL);
    // "yyyy-MM-dd_HHmm" in local time; nothing for any other text.
    static std::optional<QDateTime> parseRecordingDate(const QString& text);

    enum class DownloadedSidecar { toWrite, written };
    struct DownloadedRecording {
        Recording recording;
        DownloadedSidecar sidecar = DownloadedSidecar::toWrite;
    };
    // For the cloud sync: appends a downloaded recording and writes its sidecar unless the sync
    // already has (a failed write is ignored). False, with nothing changed, for audio outside the
    // folder and for a recording the list already holds.
    bool appendDownloadedRecording(const Recording& recording, DownloadedSidecar sidecar = DownloadedSidecar::toWrite);
    // The same for many at once, in one change of the list that moves it once: each goes where the
    // newest-first order puts it (after the listed ones of its date, in the order given), as
    // appending them and sorting would. Returns the ones added.
    QList<Recording> appendDownloadedRecordings(const std::vector<DownloadedRecording>& downloaded);
    // Publishes no change when the list is in order already.
    void sortRecordingsNewestFirst();

signals:
    void isLoadingChanged();
    void errorChanged();
    // The new title of a transcript edit has been applied, or found no recording to apply to.
    void titleUpdateFinished(const QUuid& id);

private:
    void setIsLoading(bool value);
    void setError(std::optional<RecordingsError> value);
    // Changes the list entry with the id and rewrites its sidecar; false when there is none. When
    // the sidecar cannot be written the entry is put back as it was and the error goes on.
    bool editEntry(QUuid id, const std::function<void(Recording&)>& edit);
    void writeSidecar(const Recording& recording) const;
    void publish(FolderScan::Outcome outcome);
    void finishTitleUpdate(const QUuid& id, const QString& transcription, const QString& title,
        const QString& titleOfPreviousTranscript);
    // Whether the entry's title is one the program made (from a transcript, from its file's name,
    // or the "Voice Memo" fallback) and so may be replaced by a title made from a new transcript.
    // What this session saw decides first; for recordings from an earlier run the title is
    // compared with what the program would have made, since the sidecar does not record it.
    bool titleIsGenerated(const Recording& entry, const QString& titleOfPreviousTranscript) const;

    std::filesystem::path documentsURL_;
    LibraryFolder folder_;
    bool isLoading_ = false;
    std::optional<RecordingsError> error_;
    TitleGenerator titleGenerator_;
    SidecarWriter sidecarWriter_;
    QSet<QUuid> generatedTitles_;
    QSet<QUuid> typedTitles_;
    std::shared_ptr<CloudSync> cloudSync_;
    QThreadPool titleWorkers_;
    // What the last load read, for the next refresh to compare the folder with.
    std::shared_ptr<const FolderScan::Memory> scanMemory_;
    // Counts the list's changes, so that a refresh knows whether its scan is still the whole story.
    std::uint64_t listGeneration_ = 0;
    bool refreshing_ = false;
    bool refreshAgain_ = false;
    QThreadPool loadWorkers_;
};

} // namespace parlino
