#pragma once

#include "app/library/LibraryService.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <filesystem>
#include <functional>
#include <optional>

namespace parlino {

// Copies saved recordings (audio and sidecar) into a folder the user chose once and that later
// launches find again through its bookmark in the settings. Its state lives on the main thread;
// the copies run on a worker, one export after another, never two at once.
//
// Nothing is destroyed on the way: each copy replaces a file of the same name only once it is
// complete, and a folder that is the recordings folder, lies in it or holds it is refused.
class FolderExportManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool autoExportEnabled READ autoExportEnabled NOTIFY autoExportEnabledChanged)

public:
    static constexpr const char* bookmarkKey = "exportFolderBookmark";
    static constexpr const char* autoExportKey = "autoExportEnabled";
    static constexpr const char* overlappingFolderText
        = "The export folder cannot be the recordings folder, lie inside it or contain it";

    using Completion = std::function<void()>;
    // How many recordings one export copied and how many it could not.
    struct Count {
        qsizetype exported = 0;
        qsizetype failed = 0;
    };
    using CountCompletion = std::function<void(Count)>;

    // Over the user's settings and the application's library, made on first use.
    static FolderExportManager& shared();

    // Reads nothing from the settings yet; `loadExportBookmark` does.
    FolderExportManager(platform::UserDefaults& defaults, LibraryService& library, QObject* parent = nullptr);
    // Waits for the export under way; what it reports afterwards is dropped.
    ~FolderExportManager() override;

    const std::optional<std::filesystem::path>& exportFolderURL() const { return exportFolderURL_; }
    void setExportFolderURL(std::optional<std::filesystem::path> folder);
    bool autoExportEnabled() const { return autoExportEnabled_; }
    // When the last recording was exported without error.
    const std::optional<QDateTime>& lastExportDate() const { return lastExportDate_; }
    // The last export or folder error as the user sees it, until a folder is chosen or a later
    // export copies everything it was given.
    const std::optional<QString>& exportError() const { return exportError_; }
    void setExportError(std::optional<QString> error);

    // The folder the user chose in the folder panel; a cancelled panel calls nothing.
    void selectExportFolder(const std::filesystem::path& chosenFolder);
    void saveExportBookmark(const std::filesystem::path& folder);
    // Restores the auto-export preference and the folder.
    void loadExportBookmark();
    // Asynchronous; failures go to `exportError`. The completion runs on the main thread.
    void exportRecording(const Recording& recording, Completion completion = {});
    // Every recording of the library as it stands now, one after another.
    void exportAllRecordings(CountCompletion completion = {});
    void setAutoExport(bool enabled);

signals:
    void exportFolderURLChanged();
    void autoExportEnabledChanged();
    void lastExportDateChanged();
    void exportErrorChanged();

private:
    void startExport(QList<Recording> recordings, bool reportCount, CountCompletion completion);
    void reportExported(const QString& title);
    void reportFailure(const QString& error, const QString& logLine);

    platform::UserDefaults& defaults_;
    LibraryService& library_;
    std::optional<std::filesystem::path> exportFolderURL_;
    bool autoExportEnabled_ = false;
    std::optional<QDateTime> lastExportDate_;
    std::optional<QString> exportError_;
    QThreadPool exports_;
};

} // namespace parlino
