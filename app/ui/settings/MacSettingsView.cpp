#include "app/ui/settings/MacSettingsView.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/settings/SettingsToggle.hpp"
#include "app/ui/design/SheetWindow.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/Symbol.hpp"
#include "app/ui/design/Theme.hpp"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHideEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace parlino {

using namespace design;

namespace {

struct LanguageRow {
    const char* code;
    const char* name;
};

constexpr LanguageRow languageTable[] = {
        {"", "Auto-Detect (any language)"}, {"af", "Afrikaans"}, {"sq", "Albanian"}, {"am", "Amharic"},
        {"ar", "Arabic"}, {"hy", "Armenian"}, {"as", "Assamese"}, {"az", "Azerbaijani"}, {"ba", "Bashkir"},
        {"eu", "Basque"}, {"be", "Belarusian"}, {"bn", "Bengali"}, {"bs", "Bosnian"}, {"br", "Breton"},
        {"bg", "Bulgarian"}, {"my", "Burmese"}, {"yue", "Cantonese"}, {"ca", "Catalan"}, {"zh", "Chinese"},
        {"hr", "Croatian"}, {"cs", "Czech"}, {"da", "Danish"}, {"nl", "Dutch"}, {"en", "English"},
        {"et", "Estonian"}, {"fo", "Faroese"}, {"fi", "Finnish"}, {"fr", "French"}, {"gl", "Galician"},
        {"ka", "Georgian"}, {"de", "German"}, {"el", "Greek"}, {"gu", "Gujarati"}, {"ha", "Hausa"},
        {"haw", "Hawaiian"}, {"he", "Hebrew"}, {"hi", "Hindi"}, {"hu", "Hungarian"}, {"is", "Icelandic"},
        {"id", "Indonesian"}, {"it", "Italian"}, {"ja", "Japanese"}, {"jw", "Javanese"}, {"kn", "Kannada"},
        {"kk", "Kazakh"}, {"km", "Khmer"}, {"ko", "Korean"}, {"la", "Latin"}, {"lv", "Latvian"}, {"ln", "Lingala"},
        {"lt", "Lithuanian"}, {"lb", "Luxembourgish"}, {"mk", "Macedonian"}, {"mg", "Malagasy"}, {"ms", "Malay"},
        {"ml", "Malayalam"}, {"mt", "Maltese"}, {"mi", "Maori"}, {"mr", "Marathi"}, {"mn", "Mongolian"},
        {"ne", "Nepali"}, {"no", "Norwegian"}, {"nn", "Nynorsk"}, {"oc", "Occitan"}, {"ps", "Pashto"},
        {"fa", "Persian"}, {"pl", "Polish"}, {"pt", "Portuguese"}, {"pa", "Punjabi"}, {"ro", "Romanian"},
        {"ru", "Russian"}, {"sa", "Sanskrit"}, {"sr", "Serbian"}, {"sn", "Shona"}, {"sd", "Sindhi"},
        {"si", "Sinhala"}, {"sk", "Slovak"}, {"sl", "Slovenian"}, {"so", "Somali"}, {"es", "Spanish"},
        {"su", "Sundanese"}, {"sw", "Swahili"}, {"sv", "Swedish"}, {"tl", "Tagalog"}, {"tg", "Tajik"},
        {"ta", "Tamil"}, {"tt", "Tatar"}, {"te", "Telugu"}, {"th", "Thai"}, {"bo", "Tibetan"}, {"tk", "Turkmen"},
        {"tr", "Turkish"}, {"uk", "Ukrainian"}, {"ur", "Urdu"}, {"uz", "Uzbek"}, {"vi", "Vietnamese"},
        {"cy", "Welsh"}, {"yi", "Yiddish"}, {"yo", "Yoruba"},
};

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

// Runs a recorder operation once the handler that asked for it has returned; dropped when the
// pane is gone by then.
void later(QObject* context, std::function<void()> work)
{
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

} // namespace

const std::vector<MacSettingsView::Language>& MacSettingsView::supportedLanguages()
{
    static const std::vector<Language> languages = [] {
        std::vector<Language> rows;
        for (const LanguageRow& row : languageTable) {
            rows.push_back({QString::fromLatin1(row.code), QString::fromUtf8(row.name)});
        }
        return rows;
    }();
    return languages;
}

const std::vector<MacSettingsView::Model>& MacSettingsView::models()
{
    static const std::vector<Model> models = {
        {QStringLiteral("tiny"), QStringLiteral("tiny (~40 MB) - Najrýchlejší"), QStringLiteral("tiny (~40 MB)")},
        {QStringLiteral("base"), QStringLiteral("base (~75 MB) - Rýchly"), QStringLiteral("base (~75 MB)")},
        {QStringLiteral("small"), QStringLiteral("small (~150 MB) - Odporúčaný"), QStringLiteral("small (~150 MB)")},
        {QStringLiteral("medium"), QStringLiteral("medium (~400 MB) - Presný"), QStringLiteral("medium (~400 MB)")},
        {QStringLiteral("large-v3"), QStringLiteral("large-v3 (~1.5 GB) - Najpresnejší"),
            QStringLiteral("large-v3 (~1.5 GB)")},
    };
    return models;
}

QString MacSettingsView::modelDisplayName(const QString& modelId)
{
    for (const Model& model : models()) {
        if (model.id == modelId) {
            return model.displayName;
        }
    }
    return modelId;
}

QString MacSettingsView::downloadedText(double progress)
{
    // Progress is 0 to 1 by contract; anything else must not reach the integer conversion.
    const double bounded = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    return QString::number(static_cast<int>(bounded * 100)) + QStringLiteral("% stiahnuté");
}

std::optional<std::filesystem::path> MacSettingsView::chooseFolderWithPanel(QWidget* parent)
{
    QFileDialog panel(parent, QStringLiteral("Choose a folder to export recordings"));
    panel.setFileMode(QFileDialog::Directory);
    panel.setOption(QFileDialog::ShowDirsOnly);
    panel.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    // Not wherever the program happened to be started from.
    panel.setDirectory(QDir::homePath());
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(panel.selectedFiles().front().toStdString());
}

MacSettingsView::MacSettingsView(AppServices& services, FolderChooser chooseFolder, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , chooseFolder_(std::move(chooseFolder))
{
    setObjectName(QStringLiteral("settingsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    // Tab goes to the controls inside, and the area follows the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    // Rows wider than a narrow window at a large text size scroll sideways.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(scroll);

    auto* form = new QWidget(scroll);
    form->setObjectName(QStringLiteral("settingsForm"));
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(28, 24, 28, 28);
    formLayout->setSpacing(22);
    // No section for per-app shortcut names: this desktop has nothing that runs a named shortcut
    // with the text as its input, so the detail pane does not offer that launch method either.
    sections_ = {transcriptionSection(), configurationSection(), audioProcessingSection(), afterRecordingSection(),
        pushToTalkSection(), hotkeySection(), storageSection(), exportSection(), aboutSection()};
    for (SettingsSection* section : sections_) {
        formLayout->addWidget(section);
    }
    formLayout->addStretch(1);
    scroll->setWidget(form);
    form->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);

    connect(&services_.defaults, &platform::UserDefaults::changed, this, &MacSettingsView::readSetting);
    RecorderService& recorder = services_.recorder;
    connect(&recorder, &RecorderService::whisperModelChanged, this, &MacSettingsView::whisperModelChanged);
    for (auto signal : {&RecorderService::isInitializingAurisChanged, &RecorderService::aurisReadyChanged,
             &RecorderService::aurisInitProgressChanged, &RecorderService::modelFailureChanged}) {
        connect(&recorder, signal, this, &MacSettingsView::showModelState);
    }
    connect(&recorder, &RecorderService::preprocessingSettingsChanged, this, &MacSettingsView::showPreprocessing);
    GlobeDictationService& dictation = services_.globeDictation;
    connect(&dictation, &GlobeDictationService::triggersChanged, this, &MacSettingsView::showPushToTalk);
    connect(&dictation, &GlobeDictationService::needsAccessibilityPermissionChanged, this,
        &MacSettingsView::showPushToTalk);
    connect(&dictation, &GlobeDictationService::missingPermissionTextChanged, this, &MacSettingsView::showPushToTalk);
    connect(&dictation, &GlobeDictationService::triggerNoticeTextChanged, this, &MacSettingsView::showPushToTalk);
    FolderExportManager& exporter = services_.exportManager;
    for (auto signal : {&FolderExportManager::exportFolderURLChanged, &FolderExportManager::autoExportEnabledChanged,
             &FolderExportManager::exportErrorChanged}) {
        connect(&exporter, signal, this, &MacSettingsView::showExport);
    }

    shownModel_ = recorder.whisperModel();
    showLanguage();
    showModel();
    showModelState();
    showPreprocessing();
    showAfterRecording();
    showPushToTalk();
    showExport();
}

MacSettingsView::~MacSettingsView() = default;

std::vector<SettingsSection*> MacSettingsView::sections() const
{
    return sections_;
}

void MacSettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Restoring a minimised window shows the pane again but is no new appearance.
    if (!appeared_) {
        appeared_ = true;
        appear();
    }
}

void MacSettingsView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        appeared_ = false;
    }
}

void MacSettingsView::appear()
{
    shownModel_ = services_.recorder.whisperModel();
    showModel();
    services_.exportManager.loadExportBookmark();
}

void MacSettingsView::readSetting(const QString& changedKey)
{
    if (changedKey == QLatin1String(RecorderService::preferredTranscriptionLanguageKey)) {
        showLanguage();
    } else if (changedKey == QLatin1String(SettingsKeys::copyToClipboardAfterRecording)
        || changedKey == QLatin1String(SettingsKeys::autoEnterAfterPaste)
        || changedKey == QLatin1String(SettingsKeys::soundFeedbackEnabled)) {
        showAfterRecording();
    }
}

QString MacSettingsView::preferredLanguage() const
{
    return services_.defaults.stringValue(key(RecorderService::preferredTranscriptionLanguageKey));
}

QString MacSettingsView::languageDisplayName() const
{
    const QString code = preferredLanguage();
    if (code.isEmpty()) {
        return QStringLiteral("Auto (Device Language)");
    }
    for (const Language& language : supportedLanguages()) {
        if (language.code == code) {
            return language.name;
        }
    }
    return code;
}

SettingsSection* MacSettingsView::transcriptionSection()
{
    auto* section = new SettingsSection(QStringLiteral("Transcription"), this);
    section->setObjectName(QStringLiteral("transcriptionSection"));
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Method:"),
        {formSymbol(QStringLiteral("lock.shield.fill"), Color::successGreen(), 15, section),
            formText(QStringLiteral("Local (Auris) - Offline"), TextStyle::body, Color::successGreen(), section)},
        section));
    section->addRow(SettingsSection::indentedRow(
        {formSymbol(QStringLiteral("lock.shield.fill"), Color::successGreen(), 11, section),
            formText(QStringLiteral("Audio stays on device. No internet needed."), TextStyle::caption,
                Color::textSecondary(), section)},
        4, section));
    section->addDivider();

    languagePicker_ = new MenuPicker(section);
    languagePicker_->setObjectName(QStringLiteral("languagePicker"));
    setWidthAtLeast(*languagePicker_, 250);
    languagePicker_->setMaxVisibleItems(16);
    for (const Language& language : supportedLanguages()) {
        languagePicker_->addItem(language.name, language.code);
    }
    // Only a choice of the user stores a code; showing the stored one never writes it back.
    connect(languagePicker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            services_.defaults.setString(key(RecorderService::preferredTranscriptionLanguageKey),
                languagePicker_->itemData(index).toString());
        }
    });
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Language:"), {languagePicker_}, section));
    section->addRow(SettingsSection::indentedRow({formText(QStringLiteral("Choose the language for voice transcription"),
                                                     TextStyle::caption, Color::textSecondary(), section)},
        4, section));
    return section;
}

void MacSettingsView::showLanguage()
{
    const QSignalBlocker blocker(languagePicker_);
    languagePicker_->setCurrentIndex(languagePicker_->findData(preferredLanguage()));
    activeLanguage_->setText(languageDisplayName());
}

SettingsSection* MacSettingsView::configurationSection()
{
    auto* section = new SettingsSection(QStringLiteral("Current Configuration"), this);
    section->setObjectName(QStringLiteral("configurationSection"));
    activeLanguage_ = formText(QString(), TextStyle::body, Color::textSecondary(), section);
    activeLanguage_->setObjectName(QStringLiteral("activeLanguage"));
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Active Language:"), {activeLanguage_}, section));
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Transcription:"),
        {formText(QStringLiteral("Local (Auris) - Offline"), TextStyle::body, Color::textSecondary(), section)},
        section));

    modelPicker_ = new MenuPicker(section);
    modelPicker_->setObjectName(QStringLiteral("modelPicker"));
    setWidthAtLeast(*modelPicker_, 300);
    for (const Model& model : models()) {
        modelPicker_->addItem(model.pickerLabel, model.id);
    }
    connect(modelPicker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            services_.recorder.setWhisperModel(modelPicker_->itemData(index).toString());
        }
    });
    deleteModel_ = new QToolButton(section);
    deleteModel_->setObjectName(QStringLiteral("deleteModelButton"));
    deleteModel_->setAutoRaise(true);
    deleteModel_->setCursor(Qt::PointingHandCursor);
    // A red cross beside the status would read as an error; this fetches the model again.
    deleteModel_->setIcon(symbolIcon(QStringLiteral("arrow.clockwise"), Color::textSecondary().resolved(), 18));
    deleteModel_->setIconSize(QSize(18, 18));
    deleteModel_->setToolTip(QStringLiteral("Vymazať model a stiahnuť nanovo"));
    deleteModel_->setAccessibleName(deleteModel_->toolTip());
    deleteModel_->setStyleSheet(Theme::borderlessToolButtonSheet());
    connect(deleteModel_, &QToolButton::clicked, this, &MacSettingsView::confirmDeleteAndRedownload);
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Model:"), {modelPicker_, deleteModel_}, section));
    section->addRow(modelStatusBlock());
    return section;
}

QWidget* MacSettingsView::modelStatusBlock()
{
    auto* block = new QWidget(this);
    block->setObjectName(QStringLiteral("modelStatus"));
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* status = new QWidget(block);
    // As wide as the row allows, so that a failure's reason wraps only at the card's edge.
    status->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* statusLayout = new QVBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(4);

    downloading_ = new QWidget(status);
    downloading_->setObjectName(QStringLiteral("modelDownloading"));
    auto* downloadingLayout = new QVBoxLayout(downloading_);
    downloadingLayout->setContentsMargins(0, 0, 0, 0);
    downloadingLayout->setSpacing(4);
    downloadingModel_ = formText(QString(), TextStyle::body, Color::warningAmber(), downloading_);
    downloadingLayout->addWidget(SettingsSection::horizontal(
        {downloadingModel_,
            formText(QStringLiteral("- Downloading..."), TextStyle::caption, Color::warningAmber(), downloading_)},
        6, downloading_));
    downloadProgress_ = new QProgressBar(downloading_);
    downloadProgress_->setObjectName(QStringLiteral("modelDownloadProgress"));
    downloadProgress_->setRange(0, 1000);
    downloadProgress_->setTextVisible(false);
    downloadProgress_->setFixedSize(200, 6);
    AppearanceFollower::follow(downloadProgress_, [bar = downloadProgress_] {
        bar->setStyleSheet(QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                                          "QProgressBar::chunk { background: %2; border-radius: 3px; }")
                .arg(Color::surfaceTertiary().resolved().name(), Color::brandBlue().resolved().name()));
    });
    downloadingLayout->addWidget(downloadProgress_);
    downloadedPercent_ = formText(QString(), TextStyle::caption2, Color::textSecondary(), downloading_);
    downloadedPercent_->setObjectName(QStringLiteral("modelDownloadedPercent"));
    downloadingLayout->addWidget(SettingsSection::horizontal(
        {downloadedPercent_,
            formText(QStringLiteral("This may take 2-10 minutes"), TextStyle::caption2, Color::warningAmber(),
                downloading_)},
        8, downloading_));
    QPushButton* cancel = formButton(QStringLiteral("Cancel Download"), ButtonProminence::standard, downloading_);
    cancel->setObjectName(QStringLiteral("cancelDownloadButton"));
    cancel->setStyleSheet(QStringLiteral("QPushButton { color: %1; }").arg(Color::dangerRed().resolved().name()));
    connect(cancel, &QPushButton::clicked, this, [this] { services_.recorder.cancelModelDownload(); });
    downloadingLayout->addSpacing(2);
    downloadingLayout->addWidget(SettingsSection::horizontal({cancel}, 0, downloading_));
    statusLayout->addWidget(downloading_);

    readyModel_ = formText(QString(), TextStyle::body, Color::successGreen(), status);
    ready_ = SettingsSection::horizontal(
        {readyModel_, formSymbol(QStringLiteral("checkmark.circle.fill"), Color::successGreen(), 15, status)}, 6,
        status);
    ready_->setObjectName(QStringLiteral("modelReady"));
    statusLayout->addWidget(ready_);

    notDownloaded_ = formText(QString(), TextStyle::body, Color::textSecondary(), status);
    notDownloaded_->setObjectName(QStringLiteral("modelNotDownloaded"));
    statusLayout->addWidget(notDownloaded_);
    modelFailure_ = formText(QString(), TextStyle::caption, Color::warningText(), status);
    modelFailure_->setObjectName(QStringLiteral("modelFailure"));
    modelFailure_->setWordWrap(true);
    statusLayout->addWidget(modelFailure_);
    layout->addWidget(SettingsSection::labelledRow(QStringLiteral("Status:"), {status}, block));

    applyModel_ = formButton(QString(), ButtonProminence::prominent, block);
    applyModel_->setObjectName(QStringLiteral("applyModelButton"));
    connect(applyModel_, &QPushButton::clicked, this, &MacSettingsView::runManualDownload);
    applyRow_ = SettingsSection::indentedRow({applyModel_}, 0, block);
    layout->addWidget(applyRow_);

    downloadHintText_ = formText(QString(), TextStyle::caption2, Color::warningAmber(), block);
    downloadHintText_->setObjectName(QStringLiteral("modelDownloadHint"));
    downloadHint_ = SettingsSection::indentedRow({downloadHintText_}, 0, block);
    layout->addWidget(downloadHint_);
    return block;
}

void MacSettingsView::showModel()
{
    const QSignalBlocker blocker(modelPicker_);
    modelPicker_->setCurrentIndex(modelPicker_->findData(services_.recorder.whisperModel()));
}

void MacSettingsView::showModelState()
{
    const RecorderService& recorder = services_.recorder;
    const bool initializing = recorder.isInitializingAuris();
    const bool ready = recorder.aurisReady();
    const QString model = modelDisplayName(recorder.whisperModel());
    modelPicker_->setEnabled(!initializing);
    deleteModel_->setEnabled(!initializing);

    downloading_->setVisible(initializing);
    ready_->setVisible(!initializing && ready);
    notDownloaded_->setVisible(!initializing && !ready);
    downloadingModel_->setText(model);
    const double progress = recorder.aurisInitProgress();
    downloadProgress_->setValue(static_cast<int>(std::lround(
        (std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0) * downloadProgress_->maximum())));
    downloadedPercent_->setText(downloadedText(progress));
    readyModel_->setText(model);
    notDownloaded_->setText(model + QStringLiteral(" - Not downloaded"));
    const auto& failure = recorder.modelFailure();
    const bool failedSwitch = failure && ready && failure->model != recorder.whisperModel();
    modelFailure_->setVisible(!initializing && failure && (!ready || failedSwitch));
    if (failure) {
        const QString reason = failure->reasonText();
        modelFailure_->setText(failedSwitch
                ? QStringLiteral("Could not switch to ") + modelDisplayName(failure->model) + QStringLiteral(": ") + reason
                : reason.left(1).toUpper() + reason.mid(1));
    }

    applyRow_->setVisible(!initializing);
    applyModel_->setText(escapedMnemonic(ready ? QStringLiteral("Apply Model Change") : QStringLiteral("Download Model Now")));
    downloadHint_->setVisible(!initializing && !ready);
    downloadHintText_->setText(QStringLiteral("Click to download ") + model);
}

void MacSettingsView::whisperModelChanged()
{
    showModel();
    showModelState();
    const QString model = services_.recorder.whisperModel();
    // Off screen the pane takes no part; it catches up with the stored model when it appears.
    if (!appeared_ || model == shownModel_) {
        return;
    }
    shownModel_ = model;
    later(this, [this, model] { services_.recorder.switchModel(model); });
}

void MacSettingsView::runManualDownload()
{
    later(this, [this] {
        consoleLine(QStringLiteral("🔽 Manual model download triggered"));
        // Also when there was nothing to load the click says so; a failure shows in the status.
        services_.recorder.switchModel(services_.recorder.whisperModel(), [self = QPointer(this)] {
            if (self && self->services_.recorder.aurisReady() && !self->services_.recorder.modelFailure()) {
                StatusNotice::post(*self, self->services_.timer,
                    modelDisplayName(self->services_.recorder.whisperModel()) + QStringLiteral(" is ready and in use"));
            }
        });
    });
}

void MacSettingsView::confirmDeleteAndRedownload()
{
    if (services_.recorder.isInitializingAuris()) {
        return;
    }
    const QString model = modelDisplayName(services_.recorder.whisperModel());
    auto* confirmation = new QMessageBox(this);
    design::SheetWindow::apply(*confirmation);
    confirmation->setObjectName(QStringLiteral("deleteModelConfirmation"));
    confirmation->setWindowTitle(QStringLiteral("Parlino"));
    confirmation->setTextFormat(Qt::PlainText);
    confirmation->setIcon(QMessageBox::Warning);
    confirmation->setText(QStringLiteral("Vymazať model ") + model + QStringLiteral(" a stiahnuť ho nanovo?"));
    confirmation->setInformativeText(
        QStringLiteral("Stiahnuté súbory modelu sa vymažú z disku a model sa stiahne znova."));
    QPushButton* remove
        = confirmation->addButton(escapedMnemonic(QStringLiteral("Vymazať a stiahnuť")), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("confirmDeleteModelButton"));
    QPushButton* keep = confirmation->addButton(escapedMnemonic(QStringLiteral("Zrušiť")), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("keepModelButton"));
    confirmation->setDefaultButton(keep);
    confirmation->setEscapeButton(keep);
    confirmation->setAttribute(Qt::WA_DeleteOnClose);
    connect(confirmation, &QMessageBox::buttonClicked, this, [this, remove](QAbstractButton* button) {
        // A download that began while the question was open is not interrupted.
        if (button != remove || services_.recorder.isInitializingAuris()) {
            return;
        }
        later(this, [this] { services_.recorder.deleteAndRedownloadModel(); });
    });
    confirmation->open();
}

} // namespace parlino
