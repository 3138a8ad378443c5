#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/StatusNotice.hpp"
#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/settings/MacSettingsView.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/settings/ShortcutFieldView.hpp"
#include "app/ui/design/ElidedLabel.hpp"
#include "app/ui/design/SwitchToggle.hpp"

#include "support/TemporaryDirectory.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>

using namespace parlino;
using namespace uitest;

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

class SettingsPane : public UiTest {
protected:
    MacSettingsView& open()
    {
        pane = std::make_unique<MacSettingsView>(services(), [this](QWidget*) { return nextFolder; });
        showAt(*pane, QSize(900, 900));
        return *pane;
    }

    void reopen()
    {
        pane.reset();
        open();
    }

    template <typename T = QWidget>
    T* find(const char* name)
    {
        return child<T>(*pane, name);
    }

    QString text(const char* name) { return find<QLabel>(name)->text(); }
    design::SwitchToggle* toggle(const char* name) { return find<design::SwitchToggle>(name); }

    // The user picks a row of a picker, as a click in its menu does.
    static void choose(QComboBox* picker, const QString& value)
    {
        const int index = picker->findData(value);
        ASSERT_GE(index, 0) << value.toStdString();
        picker->setCurrentIndex(index);
        emit picker->activated(index);
    }

    std::filesystem::path writeRecording(const std::string& name)
    {
        const std::filesystem::path audio = library->documentsURL() / (name + ".m4a");
        testsupport::writeFile(audio, "audio of " + name);
        testsupport::writeFile(library->documentsURL() / (name + ".json"), "{}");
        Recording recording;
        recording.id = QUuid::createUuid();
        recording.audioURL = audio;
        recording.title = QString::fromStdString(name);
        recording.date = QDateTime::currentDateTimeUtc();
        recordings.push_back(recording);
        library->setList(recordings);
        return audio;
    }

    std::unique_ptr<MacSettingsView> pane;
    std::optional<std::filesystem::path> nextFolder;
    QList<Recording> recordings;
    CapturedStdout console;
};

} // namespace

TEST_F(SettingsPane, NineSectionsInOrderAndTheTablesAsGiven)
{
    MacSettingsView& settings = open();
    QStringList titles;
    for (const SettingsSection* section : settings.sections()) {
        titles << section->title();
    }
    // No AI Shortcuts section: nothing here runs a named shortcut.
    EXPECT_EQ(titles, (QStringList{"Transcription", "Current Configuration", "Audio Processing (v6)", "After Recording",
                          "Push-to-Talk Dictation", "Global Hotkey", "Storage", "Export (Optional)", "About"}));
    EXPECT_EQ(settings.findChild<QWidget*>(QStringLiteral("aiShortcutsSection")), nullptr);

    const auto& languages = MacSettingsView::supportedLanguages();
    ASSERT_EQ(languages.size(), 99u);
    EXPECT_EQ(languages.front().code, QString());
    EXPECT_EQ(languages.front().name, QStringLiteral("Auto-Detect (any language)"));
    QStringList names;
    for (std::size_t i = 1; i < languages.size(); ++i) {
        const QString& code = languages[i].code;
        EXPECT_TRUE(code.size() == 2 || code == QLatin1String("yue") || code == QLatin1String("haw")) << code.toStdString();
        names << languages[i].name;
    }
    // Alphabetical by English name, but Turkmen before Turkish.
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    sorted.swapItemsAt(sorted.indexOf(QStringLiteral("Turkish")), sorted.indexOf(QStringLiteral("Turkmen")));
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(names.indexOf(QStringLiteral("Turkmen")) + 1, names.indexOf(QStringLiteral("Turkish")));
    EXPECT_EQ(find<QComboBox>("languagePicker")->count(), 99);

    auto* models = find<QComboBox>("modelPicker");
    QStringList labels;
    for (int i = 0; i < models->count(); ++i) {
        labels << models->itemData(i).toString() + QLatin1Char('=') + models->itemText(i);
    }
    EXPECT_EQ(labels, (QStringList{"tiny=tiny (~40 MB) - Najrýchlejší", "base=base (~75 MB) - Rýchly",
                          "small=small (~150 MB) - Odporúčaný", "medium=medium (~400 MB) - Presný",
                          "large-v3=large-v3 (~1.5 GB) - Najpresnejší"}));
    EXPECT_EQ(MacSettingsView::modelDisplayName(QStringLiteral("large-v3")), QStringLiteral("large-v3 (~1.5 GB)"));
    EXPECT_EQ(MacSettingsView::modelDisplayName(QStringLiteral("Small")), QStringLiteral("Small"));
    EXPECT_EQ(MacSettingsView::downloadedText(0.999), QStringLiteral("99% stiahnuté"));
    EXPECT_EQ(MacSettingsView::downloadedText(1.0), QStringLiteral("100% stiahnuté"));
    EXPECT_EQ(MacSettingsView::downloadedText(std::nan("")), QStringLiteral("0% stiahnuté"));
}

TEST_F(SettingsPane, PickersShowTheSettingsAndOnlyTheUsersChoiceWritesThem)
{
    open();
    // Filling and showing the pickers stores nothing.
    EXPECT_FALSE(defaults->contains(key(RecorderService::preferredTranscriptionLanguageKey)));
    EXPECT_FALSE(defaults->contains(key(RecorderService::whisperModelKey)));
    auto* languages = find<QComboBox>("languagePicker");
    EXPECT_EQ(languages->currentText(), QStringLiteral("Auto-Detect (any language)"));
    EXPECT_EQ(text("activeLanguage"), QStringLiteral("Auto (Device Language)"));
    EXPECT_EQ(find<QComboBox>("modelPicker")->currentText(), QStringLiteral("small (~150 MB) - Odporúčaný"));

    // The wheel over a picker changes nothing and is left to the pane around it, which scrolls.
    const QPoint onPicker = languages->rect().center();
    QWheelEvent wheel(onPicker, languages->mapToGlobal(onPicker), QPoint(), QPoint(0, -120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(languages, &wheel);
    EXPECT_FALSE(wheel.isAccepted());
    EXPECT_EQ(languages->currentIndex(), 0);
    EXPECT_FALSE(defaults->contains(key(RecorderService::preferredTranscriptionLanguageKey)));

    choose(languages, QStringLiteral("sk"));
    EXPECT_EQ(defaults->stringValue(key(RecorderService::preferredTranscriptionLanguageKey)), QStringLiteral("sk"));
    EXPECT_EQ(text("activeLanguage"), QStringLiteral("Slovak"));
    defaults->setString(key(RecorderService::preferredTranscriptionLanguageKey), QStringLiteral("xx-Klingon"));
    EXPECT_EQ(text("activeLanguage"), QStringLiteral("xx-Klingon"));
    EXPECT_EQ(languages->currentIndex(), -1);
    defaults->setString(key(RecorderService::preferredTranscriptionLanguageKey), QString());
    EXPECT_EQ(languages->currentIndex(), 0);

    // A new model starts a switch once the handler has returned; the same one again starts none.
    auto* models = find<QComboBox>("modelPicker");
    choose(models, QStringLiteral("medium"));
    EXPECT_TRUE(recorder->switchedModels.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->switchedModels, (std::vector<QString>{"medium"}));
    choose(models, QStringLiteral("medium"));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->switchedModels.size(), 1u);
    // A change made elsewhere while the pane is shown switches too.
    recorder->setWhisperModel(QStringLiteral("tiny"));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->switchedModels, (std::vector<QString>{"medium", "tiny"}));
    EXPECT_EQ(models->currentText(), QStringLiteral("tiny (~40 MB) - Najrýchlejší"));

    // Off screen the pane starts nothing, and coming back is no change.
    pane->hide();
    recorder->setWhisperModel(QStringLiteral("base"));
    pane->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->switchedModels.size(), 2u);

    // An id outside the five is shown as it is.
    defaults->setString(key(RecorderService::whisperModelKey), QStringLiteral("distil-xl"));
    recorder->switchedModels.clear();
    QCoreApplication::processEvents();
    EXPECT_EQ(models->currentIndex(), -1);
    EXPECT_EQ(text("modelNotDownloaded"), QStringLiteral("distil-xl - Not downloaded"));
    EXPECT_EQ(text("modelDownloadHint"), QStringLiteral("Click to download distil-xl"));
    EXPECT_EQ(defaults->stringValue(key(RecorderService::whisperModelKey)), QStringLiteral("distil-xl"));
}

TEST_F(SettingsPane, ModelStatusFollowsTheDownloadAndItsButtons)
{
    open();
    auto* apply = find<QPushButton>("applyModelButton");
    EXPECT_TRUE(find("modelNotDownloaded")->isVisible());
    EXPECT_EQ(text("modelNotDownloaded"), QStringLiteral("small (~150 MB) - Not downloaded"));
    EXPECT_EQ(apply->text(), QStringLiteral("Download Model Now"));
    EXPECT_TRUE(find("modelDownloadHint")->isVisible());
    EXPECT_EQ(text("modelDownloadHint"), QStringLiteral("Click to download small (~150 MB)"));

    console.clear();
    click(apply);
    QCoreApplication::processEvents();
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("🔽 Manual model download triggered")});
    EXPECT_EQ(recorder->switchedModels, (std::vector<QString>{"small"}));

    recorder->setIsInitializingAuris(true);
    recorder->setAurisInitProgress(0.999);
    EXPECT_TRUE(find("modelDownloading")->isVisible());
    EXPECT_FALSE(find("modelNotDownloaded")->isVisible());
    EXPECT_FALSE(apply->isVisible());
    EXPECT_FALSE(find("modelDownloadHint")->isVisible());
    EXPECT_FALSE(find("modelPicker")->isEnabled());
    EXPECT_FALSE(find("deleteModelButton")->isEnabled());
    EXPECT_EQ(text("modelDownloadedPercent"), QStringLiteral("99% stiahnuté"));
    EXPECT_EQ(find<QProgressBar>("modelDownloadProgress")->value(), 999);
    recorder->setAurisInitProgress(1.0);
    EXPECT_EQ(text("modelDownloadedPercent"), QStringLiteral("100% stiahnuté"));

    click(find("cancelDownloadButton"));
    EXPECT_EQ(recorder->cancelCalls, 1);
    EXPECT_TRUE(find("modelNotDownloaded")->isVisible());
    EXPECT_EQ(apply->text(), QStringLiteral("Download Model Now"));
    EXPECT_TRUE(find("modelPicker")->isEnabled());

    recorder->setAurisReady(true);
    EXPECT_TRUE(find("modelReady")->isVisible());
    EXPECT_FALSE(find("modelNotDownloaded")->isVisible());
    EXPECT_FALSE(find("modelDownloadHint")->isVisible());
    EXPECT_EQ(apply->text(), QStringLiteral("Apply Model Change"));
    click(apply);
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->switchedModels, (std::vector<QString>{"small", "small"}));
}

TEST_F(SettingsPane, DeletingTheModelAsksFirstAndNeverDuringADownload)
{
    open();
    const auto confirmation = [this] { return pane->findChild<QMessageBox*>(QStringLiteral("deleteModelConfirmation")); };

    click(find("deleteModelButton"));
    ASSERT_NE(confirmation(), nullptr);
    EXPECT_EQ(confirmation()->text(), QStringLiteral("Vymazať model small (~150 MB) a stiahnuť ho nanovo?"));
    click(child<QPushButton>(*confirmation(), "keepModelButton"));
    ASSERT_TRUE(waitFor([&] { return confirmation() == nullptr; }));
    EXPECT_EQ(recorder->deleteCalls, 0);

    click(find("deleteModelButton"));
    ASSERT_NE(confirmation(), nullptr);
    click(child<QPushButton>(*confirmation(), "confirmDeleteModelButton"));
    ASSERT_TRUE(waitFor([&] { return recorder->deleteCalls == 1; }));

    // A download that starts while the question is open wins over the answer.
    click(find("deleteModelButton"));
    ASSERT_NE(confirmation(), nullptr);
    recorder->setIsInitializingAuris(true);
    click(child<QPushButton>(*confirmation(), "confirmDeleteModelButton"));
    ASSERT_TRUE(waitFor([&] { return confirmation() == nullptr; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->deleteCalls, 1);
    click(find("deleteModelButton"));
    EXPECT_EQ(confirmation(), nullptr);
}

TEST_F(SettingsPane, SwitchesWriteTheirSettingsAndFollowThem)
{
    recorder->setNoiseSuppression(false);
    open();
    EXPECT_TRUE(toggle("preprocessingSwitch")->isChecked());
    EXPECT_FALSE(toggle("noiseSuppressionSwitch")->isChecked());
    EXPECT_TRUE(toggle("volumeNormalizationSwitch")->isChecked());

    click(toggle("preprocessingSwitch"));
    EXPECT_FALSE(recorder->audioPreprocessingEnabled());
    for (const char* step : {"noiseSuppressionSwitch", "volumeNormalizationSwitch", "resample16kHzSwitch"}) {
        EXPECT_FALSE(toggle(step)->isEnabled()) << step;
    }
    EXPECT_FALSE(toggle("noiseSuppressionSwitch")->isChecked());
    EXPECT_TRUE(toggle("resample16kHzSwitch")->isChecked());
    recorder->setAudioPreprocessingEnabled(true);
    EXPECT_TRUE(toggle("noiseSuppressionSwitch")->isEnabled());
    click(toggle("resample16kHzSwitch"));
    EXPECT_FALSE(recorder->resample16kHz());
    EXPECT_FALSE(recorder->noiseSuppression());

    EXPECT_TRUE(toggle("copyToClipboardSetting")->isChecked());
    EXPECT_FALSE(toggle("autoEnterSetting")->isChecked());
    EXPECT_TRUE(toggle("soundFeedbackSetting")->isChecked());
    click(toggle("autoEnterSetting"));
    EXPECT_TRUE(defaults->boolValue(key(SettingsKeys::autoEnterAfterPaste)));
    click(toggle("soundFeedbackSetting"));
    EXPECT_FALSE(defaults->boolValue(key(SettingsKeys::soundFeedbackEnabled), true));
    defaults->setBool(key(SettingsKeys::copyToClipboardAfterRecording), false);
    EXPECT_FALSE(toggle("copyToClipboardSetting")->isChecked());
    EXPECT_FALSE(defaults->contains(key(SettingsKeys::saveToRecordings)));
}

TEST_F(SettingsPane, PushToTalkStatusHotkeyStorageAndAbout)
{
    globeDictation.setNeedsAccessibilityPermission(true);
    open();
    EXPECT_TRUE(find("triggersDisabledStatus")->isVisible());
    EXPECT_FALSE(find("permissionMissingStatus")->isVisible());

    click(toggle("globeTriggerSwitch"));
    EXPECT_TRUE(globeDictation.globeTriggerEnabled());
    EXPECT_FALSE(find("triggersDisabledStatus")->isVisible());
    EXPECT_TRUE(find("permissionMissingStatus")->isVisible());
    QStringList texts;
    for (const QLabel* label : find("permissionMissingStatus")->findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            texts << label->text();
        }
    }
    EXPECT_EQ(texts, (QStringList{"X11 session with RECORD and XTEST required!",
                         "Log out → choose an X11 (Xorg) session at login → start Parlino"}));
    click(find("checkSessionButton"));
    click(find("retryEventTapButton"));
    EXPECT_EQ(globeDictation.permissionRequests, 1);
    EXPECT_EQ(globeDictation.eventTapStarts, 1);
    globeDictation.setNeedsAccessibilityPermission(false);
    EXPECT_TRUE(find("listeningStatus")->isVisible());
    EXPECT_FALSE(find("permissionMissingStatus")->isVisible());
    // Off X11 the status names what the desktop lacks and how to grant it.
    globeDictation.setNeedsAccessibilityPermission(true, QStringLiteral("evdev: not in the input group"),
        QStringLiteral("Add yourself to the input group"));
    EXPECT_TRUE(find("permissionMissingStatus")->isVisible());
    EXPECT_EQ(find<QLabel>("permissionMissingHeadline")->text(), QStringLiteral("evdev: not in the input group"));
    EXPECT_EQ(find<QLabel>("permissionGrantText")->text(), QStringLiteral("Add yourself to the input group"));
    globeDictation.setNeedsAccessibilityPermission(false);
    globeDictation.setGlobeTriggerEnabled(false);
    EXPECT_TRUE(find("triggersDisabledStatus")->isVisible());

    // The hotkey row is the shortcut recorder, on the shared hotkey.
    auto* field = find<ShortcutFieldView>("shortcutField");
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Click to record..."));
    EXPECT_FALSE(find("clearHotkeyButton")->isVisible());
    hotkey.shownText = QStringLiteral("Ctrl+Alt+Space");
    ASSERT_TRUE(hotkey.registerHotkey(0x0C0000, 49));
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_TRUE(find("hotkeyActiveLine")->isVisible());
    click(find("clearHotkeyButton"));
    EXPECT_EQ(hotkey.clears, 1);
    EXPECT_FALSE(find("hotkeyActiveLine")->isVisible());

    EXPECT_EQ(find<design::ElidedLabel>("recordingsFolderPath")->text(),
        QString::fromStdString(library->documentsURL().string()));
    click(find("openRecordingsFolderButton"));
    ASSERT_EQ(urlOpener.opened.size(), 1u);
    EXPECT_EQ(urlOpener.opened.front(), QUrl::fromLocalFile(QString::fromStdString(library->documentsURL().string())));
    EXPECT_EQ(StatusNotice::of(*pane), nullptr);

    // No file manager: the window says so for a few seconds.
    urlOpener.opens = false;
    click(find("openRecordingsFolderButton"));
    StatusNotice* notice = StatusNotice::of(*pane);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->message(), QStringLiteral("Could not open the recordings folder"));
    EXPECT_TRUE(notice->isVisible());
    EXPECT_GE(notice->geometry().top(), pane->height() / 2);
    EXPECT_TRUE(pane->rect().contains(notice->geometry()));
    saveScreenshot(*pane, QStringLiteral("failure-notice"));
    timer.advance(StatusNotice::shownFor - std::chrono::milliseconds(1000));
    click(find("openRecordingsFolderButton")); // a second failure keeps it up for its own time
    timer.advance(std::chrono::milliseconds(1000));
    EXPECT_TRUE(notice->isVisible());
    timer.advance(StatusNotice::shownFor);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_TRUE(notice->message().isEmpty());
    urlOpener.opens = true;

    QStringList about;
    for (const QLabel* label : find("aboutSection")->findChildren<QLabel*>()) {
        about << label->text();
    }
    EXPECT_EQ(about, (QStringList{"About", "Version:", "4.0 (Linux)", "Build:", "2026.02.20", "Platform:", "Debian 12+"}));
}

TEST_F(SettingsPane, ExportFolderIsCheckedExportsRunOneAtATimeAndErrorsClearOnSuccess)
{
    writeRecording("2025-03-01_0900_Standup");
    const std::filesystem::path second = writeRecording("2025-03-02_1000_Retro");
    open();
    EXPECT_EQ(find<design::ElidedLabel>("exportFolderPath")->text(), QStringLiteral("Not selected"));
    EXPECT_FALSE(find("autoExportSwitch")->isVisible());
    EXPECT_FALSE(find("exportAllButton")->isVisible());
    EXPECT_FALSE(find("exportError")->isVisible());

    // The recordings folder, a folder in it and one that holds it are refused; cancelling changes nothing.
    std::filesystem::create_directories(library->documentsURL() / "sub");
    const QString refusal = QStringLiteral("Failed to save folder: ")
        + QString::fromUtf8(FolderExportManager::overlappingFolderText);
    for (const std::filesystem::path& refused :
        {library->documentsURL(), library->documentsURL() / "sub", library->documentsURL().parent_path()}) {
        nextFolder = refused;
        click(find("chooseExportFolderButton"));
        EXPECT_EQ(text("exportError"), refusal) << refused;
        EXPECT_TRUE(find("exportError")->isVisible());
        EXPECT_EQ(find<design::ElidedLabel>("exportFolderPath")->text(), QStringLiteral("Not selected"));
    }
    nextFolder.reset();
    click(find("chooseExportFolderButton"));
    EXPECT_FALSE(services().exportManager.exportFolderURL());

    const std::filesystem::path target = folder / "Exports";
    std::filesystem::create_directories(target);
    nextFolder = target;
    click(find("chooseExportFolderButton"));
    EXPECT_EQ(find<design::ElidedLabel>("exportFolderPath")->text(), QString::fromStdString(target.string()));
    EXPECT_FALSE(find("exportError")->isVisible());
    EXPECT_TRUE(find("exportAllButton")->isVisible());

    click(toggle("autoExportSwitch"));
    EXPECT_TRUE(defaults->boolValue(key(FolderExportManager::autoExportKey)));

    auto* exportAll = find<QPushButton>("exportAllButton");
    click(exportAll);
    EXPECT_TRUE(pane->isExportRunning());
    EXPECT_FALSE(exportAll->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !pane->isExportRunning(); }));
    EXPECT_TRUE(exportAll->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(target / "2025-03-01_0900_Standup.m4a"));
    EXPECT_TRUE(std::filesystem::exists(target / "2025-03-02_1000_Retro.json"));
    ASSERT_NE(StatusNotice::of(*pane), nullptr);
    EXPECT_EQ(StatusNotice::of(*pane)->message(), QStringLiteral("Exported 2 recordings"));

    // A failed export shows its error until an export succeeds.
    const std::string audio = testsupport::readFile(second);
    std::filesystem::remove(second);
    click(exportAll);
    ASSERT_TRUE(waitFor([&] { return !pane->isExportRunning(); }));
    EXPECT_TRUE(find("exportError")->isVisible());
    EXPECT_TRUE(text("exportError").startsWith(QStringLiteral("Export failed: ")));
    EXPECT_EQ(StatusNotice::of(*pane)->message(), QStringLiteral("Export failed: 1 of 2 recordings not written"));
    testsupport::writeFile(second, audio);
    click(exportAll);
    ASSERT_TRUE(waitFor([&] { return !pane->isExportRunning(); }));
    EXPECT_FALSE(find("exportError")->isVisible());
    EXPECT_EQ(MacSettingsView::exportNotice({.exported = 1}), QStringLiteral("Exported 1 recording"));

    // A long path keeps both ends and loses its middle.
    auto* path = find<design::ElidedLabel>("exportFolderPath");
    path->setText(QString::fromStdString((target / std::string(300, 'x') / "last").string()));
    QCoreApplication::processEvents();
    EXPECT_LT(path->width(), path->sizeHint().width());
    EXPECT_TRUE(path->shownText().contains(QStringLiteral("…")));
    EXPECT_TRUE(path->shownText().startsWith(QStringLiteral("/")));
    EXPECT_TRUE(path->shownText().endsWith(QStringLiteral("xx/last")));

    // Coming back finds the folder and the auto-export choice again.
    reopen();
    EXPECT_EQ(find<design::ElidedLabel>("exportFolderPath")->text(), QString::fromStdString(target.string()));
    EXPECT_TRUE(toggle("autoExportSwitch")->isChecked());
}

TEST_F(SettingsPane, TheMainWindowShowsThePaneUnderSettings)
{
    MacMainView main(services());
    showAt(main, QSize(1120, 900));
    main.setSelectedView(MacMainView::MainViewSelection::settings);
    ASSERT_NE(qobject_cast<MacSettingsView*>(main.currentScreen()), nullptr);
}
