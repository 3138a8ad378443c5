#pragma once

#include "app/library/LibraryService.hpp"

#include <QList>

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace uitest {

// The library's failure as its callers print it: the bare case name.
class FakeLibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An in-memory library: saves build recordings the way the real one does (title or "Voice Memo",
// the suggested category, newest first) and count every call.
class FakeLibrary final : public parlino::LibraryService {
    Q_OBJECT

public:
    explicit FakeLibrary(std::filesystem::path folder, QObject* parent = nullptr);

    std::filesystem::path documentsURL() const override { return folder_; }
    void loadRecordings() override;
    void syncWithCloud(Completion completion) override;
    bool canSyncWithCloud() const override { return cloudAvailable; }
    parlino::Recording saveRecording(const parlino::RecordingResult& result) override;
    void deleteRecording(const parlino::Recording& recording) override;
    void updateCategory(const parlino::Recording& recording, parlino::RecordingCategory category) override;
    void updateTitle(const parlino::Recording& recording, const QString& title) override;
    void updateTranscription(const parlino::Recording& recording, const QString& transcription) override;

    void setList(QList<parlino::Recording> recordings) { setRecordings(std::move(recordings)); }

    // Lands in front of the next saved recording, as a cloud download arriving during a save would.
    std::optional<parlino::Recording> arrivesWithNextSave;
    // The next save fails with this error text.
    std::optional<std::string> nextSaveError;

    int loadCalls = 0;
    int syncCalls = 0;
    bool cloudAvailable = true;
    // What the next sync fails with.
    std::optional<QString> nextSyncFailure;
    int saveCalls = 0;
    int categoryUpdates = 0;
    int titleUpdates = 0;

private:
    std::optional<qsizetype> indexOf(const parlino::Recording& recording) const;

    std::filesystem::path folder_;
};

} // namespace uitest
