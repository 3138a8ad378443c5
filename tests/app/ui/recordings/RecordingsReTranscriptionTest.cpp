#include "app/ui/RecordingsFixture.hpp"

#include "app/library/RecordingsManager.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "app/recorder/RecordingError.hpp"
#include "app/ui/StatusNotice.hpp"
#include "platform/system/AtomicFileWriter.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>

using namespace parlino;
using namespace uitest;

namespace {

constexpr std::chrono::seconds second{1};

// The pane over the real library in a temporary folder, with titles made from the first word.
class RealLibraryBrowser : public RecordingsTest {
protected:
    RealLibraryBrowser()
        : realLibrary(std::make_unique<RecordingsManager>(folder / "Library"))
        , realServices(servicesWith(*realLibrary))
    {
        realLibrary->setTitleGenerator(
            [](const QString& transcript) { return QStringLiteral("About ") + transcript.section(' ', 0, 0); });
    }

    ~RealLibraryBrowser() override { view.reset(); }

    MacRecordingsListView& openReal()
    {
        // The recordings were there before the pane: none of them is the one just saved.
        realLibrary->clearLatestSavedRecordingID();
        view = std::make_unique<MacRecordingsListView>(realServices);
        showAt(*view, {1100, 720});
        clock.advance(1.0);
        return *view;
    }

    Recording save(const std::string& fileName, const QString& transcript, const QString& title)
    {
        const std::filesystem::path audio = realLibrary->documentsURL() / fileName;
        std::ofstream(audio) << "audio";
        return realLibrary->saveRecording({audio, transcript, 12.5, title});
    }

    Recording sidecarOf(const Recording& recording)
    {
        std::filesystem::path sidecar = recording.audioURL;
        sidecar.replace_extension(".json");
        const std::string json = testsupport::readFile(sidecar);
        return decodeRecording(QByteArray::fromStdString(json));
    }

    QString titleOf(const Recording& recording) { return realLibrary->recording(recording.id).value_or(Recording{}).title; }

    // Lets the title work after a transcript edit come back.
    void waitForTitle(QSignalSpy& titles, int count) { ASSERT_TRUE(waitFor([&] { return titles.count() >= count; })); }

    std::unique_ptr<RecordingsManager> realLibrary;
    AppServices realServices;
    CapturedStdout console;
};

} // namespace

TEST_F(RealLibraryBrowser, ReTranscriptionWaitsForTheEngineShowsTheNewTextAndKeepsATypedTitle)
{
    const Recording budget = save("2025-03-14_0930_Budget.m4a", QStringLiteral("first draft"), QStringLiteral("Budget"));
    const Recording standup = save("2025-03-13_1000_Standup.m4a", QStringLiteral("standup notes"), QStringLiteral("Standup"));
    QSignalSpy titles(realLibrary.get(), &RecordingsManager::titleUpdateFinished);
    MacRecordingsListView& list = openReal();
    clickRow(QStringLiteral("Budget"));
    click(find("detailTitle"));
    auto* field = find<QLineEdit>("detailTitleField");
    field->setText(QStringLiteral("Quarterly numbers"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(titleOf(budget), QStringLiteral("Quarterly numbers"));

    recorder->setAurisReady(false);
    console.clear();
    auto* reTranscribe = button("reTranscribeButton");
    click(reTranscribe);
    EXPECT_TRUE(detail().isReTranscribing());
    EXPECT_FALSE(reTranscribe->isEnabled());
    EXPECT_TRUE(reTranscribe->isBusy());
    EXPECT_EQ(reTranscribe->title(), QStringLiteral("Transcribing..."));
    detail().reTranscribe();
    QCoreApplication::processEvents();
    // One-second waits; besides them only the notice of the wait is timed.
    timer.advance(std::chrono::milliseconds(999));
    ASSERT_EQ(timer.pendingCount(), 2u);

    // Another recording shows its own button: not busy, but no second run while one goes.
    clickRow(QStringLiteral("Standup"));
    EXPECT_FALSE(reTranscribe->isBusy());
    EXPECT_EQ(reTranscribe->title(), QStringLiteral("ReTranscribe"));
    EXPECT_FALSE(reTranscribe->isEnabled());
    clickRow(QStringLiteral("Quarterly numbers"));
    EXPECT_TRUE(reTranscribe->isBusy());

    timer.advance(std::chrono::milliseconds(1));
    ASSERT_EQ(timer.pendingCount(), 2u);
    recorder->setAurisReady(true);
    timer.advance(second);
    EXPECT_EQ(timer.pendingCount(), 1u);
    ASSERT_TRUE(recorder->hasPendingTranscription());
    EXPECT_EQ(recorder->transcribedFiles.back(), budget.audioURL);
    recorder->finishTranscription(QStringLiteral("budget is final and approved"));

    EXPECT_EQ(console.lines(), (QStringList{
        QStringLiteral("🔄 Re-transcribing recording: Quarterly numbers"),
        QStringLiteral("   Audio file: 2025-03-14_0930_Budget.m4a"),
        QStringLiteral("   Current transcription length: 11 chars"),
        QStringLiteral("⚠️ Re-transcription already in progress"),
        QStringLiteral("🎤 Using WhisperRecorder.shared"),
        QStringLiteral("   Auris ready: false"),
        QStringLiteral("⏳ Waiting for Auris to initialize..."),
        QStringLiteral("✅ Auris ready after 2s"),
        QStringLiteral("🎯 Starting transcription..."),
        QStringLiteral("📝 Transcription result: 28 chars"),
        QStringLiteral("   Preview: budget is final and approved..."),
        QStringLiteral("💾 Updating RecordingsManager..."),
        QStringLiteral("✅ Re-transcription completed successfully!"),
        QStringLiteral("   New transcription: budget is final and approved..."),
    }));
    EXPECT_FALSE(detail().isReTranscribing());
    EXPECT_TRUE(reTranscribe->isEnabled());
    EXPECT_FALSE(reTranscribe->isBusy());
    EXPECT_EQ(find<QLabel>("detailTranscript")->text(), QStringLiteral("budget is final and approved"));

    // The title the user typed survives the library's re-titling; the sidecar has the new text.
    waitForTitle(titles, 1);
    EXPECT_EQ(titleOf(budget), QStringLiteral("Quarterly numbers"));
    EXPECT_EQ(find<QLabel>("detailTitle")->text(), QStringLiteral("Quarterly numbers"));
    EXPECT_EQ(sidecarOf(budget).transcription, QStringLiteral("budget is final and approved"));
    EXPECT_EQ(sidecarOf(budget).title, QStringLiteral("Quarterly numbers"));

    // A title the program made is replaced, and the pane and the list show the new one.
    clickRow(QStringLiteral("Standup"));
    console.clear();
    click(reTranscribe);
    QCoreApplication::processEvents();
    EXPECT_TRUE(console.lines().contains(QStringLiteral("   Auris ready: true")));
    EXPECT_FALSE(console.lines().contains(QStringLiteral("⏳ Waiting for Auris to initialize...")));
    recorder->finishTranscription(QStringLiteral("travel plans for May"));
    waitForTitle(titles, 2);
    EXPECT_EQ(titleOf(standup), QStringLiteral("About travel"));
    EXPECT_EQ(find<QLabel>("detailTitle")->text(), QStringLiteral("About travel"));
    EXPECT_TRUE(listedTitles().contains(QStringLiteral("About travel")));
    EXPECT_EQ(list.selectedRecordingID(), standup.id);
}

TEST_F(RealLibraryBrowser, ReTranscriptionGivesUpAfterThirtySecondsAndKeepsTheTextOnEmptyResultsAndErrors)
{
    const Recording memo = save("2025-03-14_0930_Memo.m4a", QStringLiteral("keep me"), QStringLiteral("Memo"));
    openReal();
    clickRow(QStringLiteral("Memo"));
    auto* reTranscribe = button("reTranscribeButton");

    const auto notice = [&] { return StatusNotice::of(*view) ? StatusNotice::of(*view)->message() : QString(); };

    // Never ready: the window says at once what the run waits for; thirty one-second waits, then
    // the run gives up and says so.
    recorder->setAurisReady(false);
    click(reTranscribe);
    QCoreApplication::processEvents();
    EXPECT_EQ(notice(), QStringLiteral("Waiting for the speech model to load..."));
    console.clear();
    int sleeps = 0;
    while (detail().isReTranscribing() && sleeps < 40) {
        timer.advance(second);
        ++sleeps;
    }
    EXPECT_EQ(sleeps, 30);
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("❌ FATAL: Auris not ready after 30s")});
    EXPECT_EQ(notice(), QStringLiteral("The speech model is still not ready. Use ReTranscribe again once it is"));
    EXPECT_FALSE(recorder->hasPendingTranscription());
    EXPECT_TRUE(reTranscribe->isEnabled());

    // A model that failed is not coming: the run ends at once and says why.
    recorder->setModelFailure(ModelFailure {QStringLiteral("small"), ModelFailure::Reason::noConnection});
    console.clear();
    click(reTranscribe);
    QCoreApplication::processEvents();
    EXPECT_EQ(console.lines().mid(3), (QStringList {QStringLiteral("🎤 Using WhisperRecorder.shared"),
        QStringLiteral("   Auris ready: false"), QStringLiteral("❌ FATAL: Auris not ready (no speech model is loading)")}));
    const ModelFailure failure {QStringLiteral("small"), ModelFailure::Reason::noConnection};
    EXPECT_EQ(notice(), QStringLiteral("Cannot transcribe: no speech model is ready (") + failure.reasonText()
            + QStringLiteral("). Get one in Settings, then use ReTranscribe again"));
    EXPECT_FALSE(detail().isReTranscribing());
    EXPECT_TRUE(reTranscribe->isEnabled());
    recorder->setModelFailure(std::nullopt);

    // While the model downloads the run waits, saying so; a cancelled download ends the wait.
    recorder->setIsInitializingAuris(true);
    click(reTranscribe);
    QCoreApplication::processEvents();
    EXPECT_EQ(notice(), QStringLiteral("Waiting for the speech model to finish downloading..."));
    timer.advance(3 * second);
    EXPECT_FALSE(reTranscribe->isEnabled());
    recorder->setIsInitializingAuris(false);
    recorder->setModelDownloadCancelled(true);
    timer.advance(second);
    EXPECT_EQ(notice(), QStringLiteral("Cannot transcribe: no speech model is ready. Get one in Settings, then use ReTranscribe again"));
    EXPECT_FALSE(detail().isReTranscribing());
    EXPECT_TRUE(reTranscribe->isEnabled());
    recorder->setModelDownloadCancelled(false);

    // Ready only after the last wait: no "ready after" line, and the transcription starts. An
    // empty result keeps the old text.
    click(reTranscribe);
    QCoreApplication::processEvents();
    timer.advance(29 * second);
    recorder->setAurisReady(true);
    console.clear();
    timer.advance(second);
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("🎯 Starting transcription...")});
    console.clear();
    recorder->finishTranscription(QString());
    EXPECT_EQ(console.lines(), (QStringList{
        QStringLiteral("📝 Transcription result: 0 chars"),
        QStringLiteral("   Preview: ..."),
        QStringLiteral("❌ FATAL: Empty transcription returned"),
    }));
    EXPECT_EQ(notice(), QStringLiteral("No speech was recognised; the transcript was left as it was"));
    EXPECT_EQ(realLibrary->recording(memo.id)->transcription, QStringLiteral("keep me"));
    EXPECT_TRUE(reTranscribe->isEnabled());

    click(reTranscribe);
    QCoreApplication::processEvents();
    // The engine's error is reported in three lines.
    console.clear();
    recorder->finishTranscription(QString(), std::make_exception_ptr(RecordingError(RecordingError::aurisNotInitialized)));
    EXPECT_EQ(console.lines(), (QStringList{
        QStringLiteral("❌ Re-transcription failed with error:"),
        QStringLiteral("   Error: Auris not initialized. Please wait..."),
        QStringLiteral("   Localized: Auris not initialized. Please wait..."),
    }));
    EXPECT_EQ(notice(), QStringLiteral("Re-transcription failed: Auris not initialized. Please wait..."));
    EXPECT_EQ(realLibrary->recording(memo.id)->transcription, QStringLiteral("keep me"));
    EXPECT_TRUE(reTranscribe->isEnabled());
}

TEST_F(RealLibraryBrowser, DeletingAfterConfirmationRemovesTheFilesAndClearsThePane)
{
    const Recording memo = save("2025-03-14_0930_Memo.m4a", QStringLiteral("to be removed"), QStringLiteral("Memo"));
    const Recording other = save("2025-03-14_0931_Other.m4a", QStringLiteral("stays"), QStringLiteral("Other"));
    MacRecordingsListView& list = openReal();
    clickRow(QStringLiteral("Memo"));
    std::filesystem::path sidecar = memo.audioURL;
    sidecar.replace_extension(".json");
    ASSERT_TRUE(std::filesystem::exists(sidecar));

    click(button("deleteButton"));
    QMessageBox* alert = list.deleteConfirmation();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(std::filesystem::exists(memo.audioURL));
    click(alert->findChild<QPushButton*>(QStringLiteral("confirmDeleteButton")));
    QCoreApplication::processEvents();

    EXPECT_FALSE(std::filesystem::exists(memo.audioURL));
    EXPECT_FALSE(std::filesystem::exists(sidecar));
    EXPECT_TRUE(std::filesystem::exists(other.audioURL));
    EXPECT_FALSE(list.selectedRecordingID().has_value());
    EXPECT_TRUE(find("noSelectionView")->isVisible());
    EXPECT_EQ(listedTitles(), QStringList{QStringLiteral("Other")});
}

TEST_F(RealLibraryBrowser, AnEditTheDiskCannotTakeIsUndoneAndSaidAndALongTranscriptIsLaidOutInPieces)
{
    QString transcript;
    for (int word = 0; word < 40000; ++word) {
        transcript += QStringLiteral("word%1 ").arg(word);
    }
    const Recording talk = save("2025-03-14_0930_Talk.m4a", transcript, QStringLiteral("Long talk"));
    save("2025-03-13_1000_Standup.m4a", QStringLiteral("standup notes"), QStringLiteral("Standup"));
    openReal();
    clickRow(QStringLiteral("Long talk"));

    // A bounded first piece, ended between words; the next comes at the end of the scroll.
    const QString first = find<QLabel>("detailTranscript")->text();
    EXPECT_LE(first.size(), RecordingDetailView::transcriptPieceLength);
    EXPECT_GT(first.size(), RecordingDetailView::transcriptPieceLength * 9 / 10);
    EXPECT_TRUE(transcript.startsWith(first));
    EXPECT_TRUE(first.endsWith(QLatin1Char(' ')));
    EXPECT_EQ(view->findChildren<QLabel*>(QStringLiteral("detailTranscriptMore")).size(), 0);
    auto* scroll = find<QScrollArea>("recordingDetailScroll")->verticalScrollBar();
    scroll->setValue(scroll->maximum());
    const auto more = view->findChildren<QLabel*>(QStringLiteral("detailTranscriptMore"));
    ASSERT_EQ(more.size(), 1);
    EXPECT_TRUE(transcript.startsWith(first + more[0]->text()));
    click(button("copyButton"));
    EXPECT_EQ(clipboard.text(), transcript);

    // The disk is full: the title goes back to the stored one, in the pane and in the list.
    realLibrary->setSidecarWriter([](const std::filesystem::path& sidecar, std::string_view) {
        throw std::filesystem::filesystem_error("Cannot write the file", sidecar, std::make_error_code(std::errc::no_space_on_device));
    });
    click(find("detailTitle"));
    auto* field = find<QLineEdit>("detailTitleField");
    field->setText(QStringLiteral("Keynote"));
    console.clear();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(find<QLabel>("detailTitle")->text(), QStringLiteral("Long talk"));
    EXPECT_EQ(titleOf(talk), QStringLiteral("Long talk"));
    EXPECT_TRUE(listedTitles().contains(QStringLiteral("Long talk")));
    EXPECT_FALSE(listedTitles().contains(QStringLiteral("Keynote")));
    EXPECT_EQ(sidecarOf(talk).title, QStringLiteral("Long talk"));
    auto* error = find<QLabel>("detailSaveError");
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->text().startsWith(QStringLiteral("❌ Failed to update title: "))) << error->text().toStdString();
    EXPECT_TRUE(error->text().contains(QStringLiteral("No space left on device"))) << error->text().toStdString();
    ASSERT_FALSE(console.lines().isEmpty());
    EXPECT_EQ(console.lines().last(), error->text());

    // So is a category; once the disk takes edits again the message goes.
    click(find("detailCategoryItem"));
    auto* picker = find<QComboBox>("detailCategoryPicker");
    picker->setCurrentIndex(picker->findText(QStringLiteral("Idea")));
    EXPECT_EQ(find<QLabel>("detailCategory")->text(), talk.category.rawValue());
    EXPECT_TRUE(error->text().startsWith(QStringLiteral("❌ Failed to update category: ")));
    realLibrary->setSidecarWriter(&platform::AtomicFileWriter::writeFile);
    click(find("detailTitle"));
    field->setText(QStringLiteral("Keynote"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(sidecarOf(talk).title, QStringLiteral("Keynote"));
    EXPECT_FALSE(error->isVisible());
}
