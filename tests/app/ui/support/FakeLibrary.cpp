#include "FakeLibrary.hpp"

#include <QTimer>

#include <utility>

namespace uitest {

using parlino::Recording;

FakeLibrary::FakeLibrary(std::filesystem::path folder, QObject* parent)
    : LibraryService(parent)
    , folder_(std::move(folder))
{
}

void FakeLibrary::loadRecordings()
{
    ++loadCalls;
    setRecordings(recordings());
}

void FakeLibrary::syncWithCloud(Completion completion)
{
    ++syncCalls;
    QTimer::singleShot(0, this, [this, failure = std::exchange(nextSyncFailure, std::nullopt), completion = std::move(completion)] {
        if (failure) {
            emit syncFailed(*failure);
        }
        if (completion) {
            completion();
        }
    });
}

Recording FakeLibrary::saveRecording(const parlino::RecordingResult& result)
{
    ++saveCalls;
    if (nextSaveError) {
        const std::string message = *std::exchange(nextSaveError, std::nullopt);
        throw FakeLibraryError(message);
    }
    if (!result.audioURL) {
        throw FakeLibraryError("invalidAudioFile");
    }
    Recording recording;
    recording.id = QUuid::createUuid();
    recording.audioURL = *result.audioURL;
    recording.title = result.generatedTitle.value_or(QStringLiteral("Voice Memo"));
    recording.transcription = result.transcription;
    recording.duration = result.duration;
    recording.date = QDateTime::currentDateTimeUtc();
    recording.category = parlino::RecordingCategory::suggestedCategory(result.transcription, recording.title);
    QList<Recording> list = recordings();
    list.prepend(recording);
    if (arrivesWithNextSave) {
        list.prepend(*std::exchange(arrivesWithNextSave, std::nullopt));
    }
    setRecordings(list);
    setLatestSavedRecordingID(recording.id);
    return recording;
}

std::optional<qsizetype> FakeLibrary::indexOf(const Recording& recording) const
{
    const qsizetype index = recordings().indexOf(recording);
    return index < 0 ? std::nullopt : std::optional(index);
}

void FakeLibrary::deleteRecording(const Recording& recording)
{
    QList<Recording> list = recordings();
    list.removeAll(recording);
    setRecordings(list);
}

void FakeLibrary::updateCategory(const Recording& recording, parlino::RecordingCategory category)
{
    ++categoryUpdates;
    if (const auto index = indexOf(recording)) {
        QList<Recording> list = recordings();
        list[*index].category = category;
        setRecordings(list);
    }
}

void FakeLibrary::updateTitle(const Recording& recording, const QString& title)
{
    ++titleUpdates;
    if (const auto index = indexOf(recording)) {
        QList<Recording> list = recordings();
        list[*index].title = title;
        setRecordings(list);
    }
}

void FakeLibrary::updateTranscription(const Recording& recording, const QString& transcription)
{
    if (const auto index = indexOf(recording)) {
        QList<Recording> list = recordings();
        list[*index].transcription = transcription;
        setRecordings(list);
    }
}

} // namespace uitest
