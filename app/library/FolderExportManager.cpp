#include "app/library/FolderExportManager.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/LibraryFolder.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/support/RunThenPost.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/FileBookmark.hpp"

namespace parlino {

namespace {

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

// What one recording's export came to, made on the worker and reported on the main thread.
struct Outcome {
    QString title;
    bool exported = false;
    // The text for `exportError`, and the console line's, when there is one.
    QString error;
    QString logLine;
};

Outcome failure(QString error, QString description = {})
{
    Outcome outcome;
    outcome.error = std::move(error);
    if (!description.isEmpty()) {
        outcome.logLine = QStringLiteral("❌ Export failed: ") + description;
    }
    return outcome;
}

Outcome exportFailure(const QString& description)
{
    return failure(QStringLiteral("Export failed: ") + description, description);
}

// On the export worker.
Outcome exportOne(const std::optional<std::filesystem::path>& folder, const LibraryFolder& library,
                  const Recording& recording)
{
    if (!folder) {
        return failure(QStringLiteral("No export folder selected"));
    }
    if (library.overlaps(*folder)) {
        return exportFailure(QString::fromUtf8(FolderExportManager::overlappingFolderText));
    }
    if (!platform::FileBookmark::startAccessingSecurityScopedResource(*folder)) {
        return failure(QStringLiteral("Failed to access export folder"));
    }
    if (!library.holdsAudio(recording.audioURL)) {
        return exportFailure(QStringLiteral("The audio file is not in the recordings folder: ") + text(recording.audioURL));
    }
    const std::filesystem::path audioName = recording.audioURL.filename();
    const std::filesystem::path sidecar = LibraryFolder::sidecarURL(recording.audioURL);
    try {
        platform::AtomicFileWriter::copyFile(recording.audioURL, *folder / audioName);
        std::error_code error;
        if (std::filesystem::exists(sidecar, error)) {
            platform::AtomicFileWriter::copyFile(sidecar, *folder / LibraryFolder::sidecarURL(audioName));
        }
    } catch (const std::exception& copyFailure) {
        return exportFailure(describe(copyFailure));
    }
    Outcome outcome;
    outcome.title = recording.title;
    outcome.exported = true;
    return outcome;
}

} // namespace

FolderExportManager& FolderExportManager::shared()
{
    static FolderExportManager* manager
        = new FolderExportManager(platform::UserDefaults::standard(), RecordingsManager::shared());
    return *manager;
}

FolderExportManager::FolderExportManager(platform::UserDefaults& defaults, LibraryService& library, QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
    , library_(library)
{
    exports_.setMaxThreadCount(1);
}

FolderExportManager::~FolderExportManager()
{
    exports_.waitForDone();
}

void FolderExportManager::setExportFolderURL(std::optional<std::filesystem::path> folder)
{
    exportFolderURL_ = std::move(folder);
    emit exportFolderURLChanged();
}

void FolderExportManager::setExportError(std::optional<QString> error)
{
    exportError_ = std::move(error);
    emit exportErrorChanged();
}

void FolderExportManager::selectExportFolder(const std::filesystem::path& chosenFolder)
{
    saveExportBookmark(chosenFolder);
}

void FolderExportManager::saveExportBookmark(const std::filesystem::path& folder)
{
    const std::filesystem::path absolute = std::filesystem::absolute(folder).lexically_normal();
    try {
        if (LibraryFolder(library_.documentsURL()).overlaps(absolute)) {
            throw platform::FileBookmarkError(overlappingFolderText);
        }
        const std::string bookmark = platform::FileBookmark::create(absolute);
        defaults_.setData(QString::fromLatin1(bookmarkKey),
                          QByteArray(bookmark.data(), static_cast<qsizetype>(bookmark.size())));
    } catch (const platform::FileBookmarkError& error) {
        printLine(QStringLiteral("❌ Failed to save bookmark: ") + describe(error));
        setExportError(QStringLiteral("Failed to save folder: ") + describe(error));
        return;
    }
    if (exportError_) {
        setExportError(std::nullopt);
    }
    setExportFolderURL(absolute);
    printLine(QStringLiteral("✅ Export folder saved: ") + text(absolute));
}

void FolderExportManager::loadExportBookmark()
{
    autoExportEnabled_ = defaults_.boolValue(QString::fromLatin1(autoExportKey), false);
    emit autoExportEnabledChanged();

    const QByteArray bookmark = defaults_.dataValue(QString::fromLatin1(bookmarkKey));
    if (bookmark.isEmpty()) {
        return;
    }
    platform::FileBookmark::Resolution resolution;
    try {
        resolution = platform::FileBookmark::resolve(std::string_view(bookmark.constData(), static_cast<std::size_t>(bookmark.size())));
    } catch (const platform::FileBookmarkError& error) {
        printLine(QStringLiteral("❌ Failed to resolve bookmark: ") + describe(error));
        setExportFolderURL(std::nullopt);
        return;
    }
    if (resolution.isStale) {
        // The stored bookmark stays until the user chooses a folder again.
        printLine(QStringLiteral("⚠️ Bookmark is stale, need to re-select folder"));
        setExportFolderURL(std::nullopt);
        return;
    }
    setExportFolderURL(resolution.path);
    printLine(QStringLiteral("✅ Loaded export folder: ") + text(resolution.path));
}

void FolderExportManager::exportRecording(const Recording& recording, Completion completion)
{
    startExport({recording}, false, [completion = std::move(completion)](Count) {
        if (completion) {
            completion();
        }
    });
}

void FolderExportManager::exportAllRecordings(CountCompletion completion)
{
    startExport(library_.recordings(), true, std::move(completion));
}

void FolderExportManager::startExport(QList<Recording> recordings, bool reportCount, CountCompletion completion)
{
    // The worker is waited for before this object goes, so posting to it is always safe; Qt drops
    // what is still queued for an object that is gone.
    runThenPost(
        exports_, this,
        [this, folder = exportFolderURL_, library = LibraryFolder(library_.documentsURL()), recordings = std::move(recordings)] {
            Count count;
            for (const Recording& recording : recordings) {
                Outcome outcome = exportOne(folder, library, recording);
                if (outcome.exported) {
                    ++count.exported;
                } else {
                    ++count.failed;
                }
                postTo(this, [this, outcome = std::move(outcome)] {
                    outcome.exported ? reportExported(outcome.title) : reportFailure(outcome.error, outcome.logLine);
                });
            }
            return count;
        },
        [this, reportCount, completion = std::move(completion)](Count count) {
            // A run that exported everything it was given makes an earlier error stale.
            if (count.exported > 0 && count.failed == 0 && exportError_) {
                setExportError(std::nullopt);
            }
            if (reportCount) {
                printLine(QStringLiteral("✅ Exported %1 recordings").arg(count.exported));
            }
            if (completion) {
                completion(count);
            }
        });
}

void FolderExportManager::reportExported(const QString& title)
{
    lastExportDate_ = QDateTime::currentDateTime();
    emit lastExportDateChanged();
    printLine(QStringLiteral("✅ Exported: ") + title);
}

void FolderExportManager::reportFailure(const QString& error, const QString& logLine)
{
    if (!logLine.isEmpty()) {
        printLine(logLine);
    }
    setExportError(error);
}

void FolderExportManager::setAutoExport(bool enabled)
{
    autoExportEnabled_ = enabled;
    emit autoExportEnabledChanged();
    defaults_.setBool(QString::fromLatin1(autoExportKey), enabled);
    printLine(QStringLiteral("Auto-export: ") + (enabled ? QStringLiteral("ON") : QStringLiteral("OFF")));
}

} // namespace parlino
