// The pane's sections for push-to-talk, the global hotkey, storage, export and about.
#include "app/ui/settings/MacSettingsView.hpp"

#include "app/ui/StatusNotice.hpp"

#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/settings/SettingsToggle.hpp"
#include "app/ui/settings/ShortcutRecorderView.hpp"
#include "app/ui/design/ElidedLabel.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/SwitchToggle.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

QPushButton* captionButton(const QString& text, QWidget* parent)
{
    QPushButton* button = formButton(text, ButtonProminence::standard, parent);
    button->setFont(Font::textStyle(TextStyle::caption));
    button->setStyleSheet(QStringLiteral("QPushButton { padding: 2px 10px; }"));
    return button;
}

} // namespace

// What the desktop must grant for the keys to be heard (an X11 session whose server offers RECORD
// and XTEST, or on Wayland what InputSession names), with the ways to check again.
QWidget* MacSettingsView::permissionMissingStatus(SettingsSection& section)
{
    GlobeDictationService& dictation = services_.globeDictation;
    permissionMissing_ = new QWidget(&section);
    permissionMissing_->setObjectName(QStringLiteral("permissionMissingStatus"));
    auto* missingLayout = new QVBoxLayout(permissionMissing_);
    missingLayout->setContentsMargins(0, 0, 0, 0);
    missingLayout->setSpacing(4);
    // There are no system settings to open: the manager reports what the session lacks and starts
    // watching for it.
    QPushButton* checkSession = captionButton(QStringLiteral("Check Session"), permissionMissing_);
    checkSession->setObjectName(QStringLiteral("checkSessionButton"));
    connect(checkSession, &QPushButton::clicked, this, [&dictation] { dictation.requestAccessibilityPermission(); });
    QPushButton* retry = captionButton(QStringLiteral("Retry"), permissionMissing_);
    retry->setObjectName(QStringLiteral("retryEventTapButton"));
    connect(retry, &QPushButton::clicked, this, [&dictation] { dictation.startEventTap(); });
    missingLayout->addWidget(SettingsSection::indentedRow(
        {formSymbol(QStringLiteral("xmark.circle.fill"), Color::dangerRed(), 12, permissionMissing_),
            permissionHeadline_ = new PlainLabel(QStringLiteral("X11 session with RECORD and XTEST required!"),
                Font::textStyle(TextStyle::caption, QFont::DemiBold), Color::dangerRed(), permissionMissing_),
            checkSession, retry},
        4, permissionMissing_));
    permissionHeadline_->setObjectName(QStringLiteral("permissionMissingHeadline"));
    permissionGrant_ = formText(QStringLiteral("Log out → choose an X11 (Xorg) session at login → start Parlino"),
        TextStyle::caption, Color::dangerRed(), permissionMissing_);
    permissionGrant_->setObjectName(QStringLiteral("permissionGrantText"));
    missingLayout->addWidget(SettingsSection::indentedRow({permissionGrant_}, 0, permissionMissing_));
    return permissionMissing_;
}

SettingsSection* MacSettingsView::pushToTalkSection()
{
    auto* section = new SettingsSection(QStringLiteral("Push-to-Talk Dictation"), this);
    section->setObjectName(QStringLiteral("pushToTalkSection"));
    GlobeDictationService& dictation = services_.globeDictation;
    const struct {
        SettingsToggle*& toggle;
        const char* label;
        const char* title;
        const char* explanation;
        const char* objectName;
        void (GlobeDictationService::*write)(bool);
    } triggers[] = {
        {globeTrigger_, "Right Ctrl ⌃:", "Right Ctrl key (hold 0.7s+)",
            "Hold Right Ctrl → speak → release → text pasted at cursor", "globeTriggerSwitch",
            &GlobeDictationService::setGlobeTriggerEnabled},
        {capsLockTrigger_, "Caps Lock ⇪:", "Caps Lock (toggle on/off)",
            "Toggle ON → recording starts (LED on) → toggle OFF → transcribe & paste", "capsLockTriggerSwitch",
            &GlobeDictationService::setCapsLockTriggerEnabled},
        {rightShiftTrigger_, "Right Shift ⇧:", "Right Shift key (hold 0.3s+)",
            "Hold Right Shift → speak → release → text pasted at cursor", "rightShiftTriggerSwitch",
            &GlobeDictationService::setRightShiftTriggerEnabled},
    };
    for (const auto& trigger : triggers) {
        trigger.toggle = new SettingsToggle(services_.clock, QString::fromUtf8(trigger.title), section);
        trigger.toggle->toggle()->setObjectName(QString::fromLatin1(trigger.objectName));
        connect(trigger.toggle, &SettingsToggle::flipped, this,
            [&dictation, write = trigger.write](bool on) { (dictation.*write)(on); });
        section->addRow(SettingsSection::labelledRow(QString::fromUtf8(trigger.label), {trigger.toggle}, section));
        section->addRow(SettingsSection::indentedRow({formText(QString::fromUtf8(trigger.explanation),
                                                         TextStyle::caption, Color::textSecondary(), section)},
            0, section));
        section->addDivider();
    }

    notListening_ = SettingsSection::indentedRow(
        {formSymbol(QStringLiteral("pause.circle.fill"), Color::textSecondary(), 12, section),
            formText(QStringLiteral("All triggers disabled — not listening"), TextStyle::caption,
                Color::textSecondary(), section)},
        4, section);
    notListening_->setObjectName(QStringLiteral("triggersDisabledStatus"));
    section->addRow(notListening_);

    section->addRow(permissionMissingStatus(*section));

    listening_ = SettingsSection::indentedRow(
        {formSymbol(QStringLiteral("checkmark.circle.fill"), Color::successGreen(), 12, section),
            formText(QStringLiteral("Active — listening system-wide"), TextStyle::caption, Color::successGreen(),
                section)},
        4, section);
    listening_->setObjectName(QStringLiteral("listeningStatus"));
    section->addRow(listening_);
    triggerNotice_ = formText({}, TextStyle::caption, Color::textSecondary(), section);
    triggerNotice_->setObjectName(QStringLiteral("triggerNoticeText"));
    triggerNoticeRow_ = SettingsSection::indentedRow({triggerNotice_}, 0, section);
    section->addRow(triggerNoticeRow_);
    return section;
}

void MacSettingsView::showPushToTalk()
{
    const GlobeDictationService& dictation = services_.globeDictation;
    globeTrigger_->showValue(dictation.globeTriggerEnabled());
    capsLockTrigger_->showValue(dictation.capsLockTriggerEnabled());
    rightShiftTrigger_->showValue(dictation.rightShiftTriggerEnabled());
    const bool listening = dictation.isAnyTriggerEnabled();
    const bool missing = dictation.needsAccessibilityPermission();
    notListening_->setVisible(!listening);
    permissionMissing_->setVisible(listening && missing);
    // Off X11 the desktop says what it lacks and how to grant it.
    const QString grant = dictation.permissionGrantText();
    permissionHeadline_->setText(grant.isEmpty() ? QStringLiteral("X11 session with RECORD and XTEST required!")
                                                 : dictation.missingPermissionText());
    permissionGrant_->setText(grant.isEmpty() ? QStringLiteral("Log out → choose an X11 (Xorg) session at login → start Parlino")
                                              : grant);
    listening_->setVisible(listening && !missing);
    triggerNotice_->setText(dictation.triggerNoticeText());
    triggerNoticeRow_->setVisible(listening && !missing && !dictation.triggerNoticeText().isEmpty());
}

SettingsSection* MacSettingsView::hotkeySection()
{
    auto* section = new SettingsSection(QStringLiteral("Global Hotkey"), this);
    section->setObjectName(QStringLiteral("hotkeySection"));
    section->addRow(new ShortcutRecorderView(services_.hotkey, section));
    section->addRow(SettingsSection::indentedRow(
        {formText(QStringLiteral("Press the global hotkey to activate Parlino and start recording instantly"),
            TextStyle::caption, Color::textSecondary(), section)},
        0, section));
    return section;
}

SettingsSection* MacSettingsView::storageSection()
{
    auto* section = new SettingsSection(QStringLiteral("Storage"), this);
    section->setObjectName(QStringLiteral("storageSection"));
    auto* path = new ElidedLabel(pathText(services_.library.documentsURL()), Font::textStyle(TextStyle::caption),
        Color::textSecondary(), section);
    path->setObjectName(QStringLiteral("recordingsFolderPath"));
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Recordings:"), {path}, section));
    QPushButton* open = formButton(QStringLiteral("Open Recordings Folder"), ButtonProminence::standard, section);
    open->setObjectName(QStringLiteral("openRecordingsFolderButton"));
    connect(open, &QPushButton::clicked, this, [this] {
        if (!services_.urlOpener.openUrl(QUrl::fromLocalFile(pathText(services_.library.documentsURL())))) {
            StatusNotice::post(*this, services_.timer, QStringLiteral("Could not open the recordings folder"));
        }
    });
    section->addRow(SettingsSection::indentedRow({open}, 0, section));
    return section;
}

SettingsSection* MacSettingsView::exportSection()
{
    auto* section = new SettingsSection(QStringLiteral("Export (Optional)"), this);
    section->setObjectName(QStringLiteral("exportSection"));
    section->setRowSpacing(12);
    section->addRow(formText(QStringLiteral("Export recordings to custom folder (Synology, Dropbox, Google Drive, etc.)"),
        TextStyle::caption, Color::textSecondary(), section));

    exportFolder_ = new ElidedLabel(QString(), Font::textStyle(TextStyle::caption), Color::textSecondary(), section);
    exportFolder_->setObjectName(QStringLiteral("exportFolderPath"));
    QPushButton* choose = formButton(QStringLiteral("Choose Folder..."), ButtonProminence::standard, section);
    choose->setObjectName(QStringLiteral("chooseExportFolderButton"));
    connect(choose, &QPushButton::clicked, this, &MacSettingsView::chooseExportFolder);
    section->addRow(
        SettingsSection::labelledRow(QStringLiteral("Export Folder:"), {exportFolder_, nullptr, choose}, section));

    autoExport_ = new SettingsToggle(services_.clock, QStringLiteral("Auto-export new recordings"), section);
    autoExport_->toggle()->setObjectName(QStringLiteral("autoExportSwitch"));
    connect(autoExport_, &SettingsToggle::flipped, this, [this](bool on) { services_.exportManager.setAutoExport(on); });
    autoExportRow_ = SettingsSection::indentedRow({autoExport_}, 0, section);
    section->addRow(autoExportRow_);

    exportAll_ = formButton(QStringLiteral("Export All Existing Recordings"), ButtonProminence::standard, section);
    exportAll_->setObjectName(QStringLiteral("exportAllButton"));
    connect(exportAll_, &QPushButton::clicked, this, &MacSettingsView::exportAll);
    exportAllRow_ = SettingsSection::indentedRow({exportAll_}, 0, section);
    section->addRow(exportAllRow_);

    exportError_ = formText(QString(), TextStyle::caption, Color::dangerRed(), section);
    exportError_->setObjectName(QStringLiteral("exportError"));
    exportError_->setWordWrap(true);
    exportError_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    exportErrorRow_ = SettingsSection::indentedRow({exportError_}, 0, section);
    section->addRow(exportErrorRow_);
    return section;
}

void MacSettingsView::showExport()
{
    const FolderExportManager& exporter = services_.exportManager;
    const std::optional<std::filesystem::path>& folder = exporter.exportFolderURL();
    exportFolder_->setText(folder ? pathText(*folder) : QStringLiteral("Not selected"));
    autoExportRow_->setVisible(folder.has_value());
    exportAllRow_->setVisible(folder.has_value());
    autoExport_->showValue(exporter.autoExportEnabled());
    exportAll_->setEnabled(!exportRunning_);
    const std::optional<QString>& error = exporter.exportError();
    exportErrorRow_->setVisible(error.has_value());
    exportError_->setText(error.value_or(QString()));
}

void MacSettingsView::chooseExportFolder()
{
    if (!chooseFolder_) {
        return;
    }
    if (const std::optional<std::filesystem::path> folder = chooseFolder_(this)) {
        services_.exportManager.selectExportFolder(*folder);
    }
}

QString MacSettingsView::exportNotice(FolderExportManager::Count count)
{
    if (count.failed > 0) {
        return QStringLiteral("Export failed: %1 of %2 recordings not written")
            .arg(count.failed)
            .arg(count.exported + count.failed);
    }
    return count.exported == 1 ? QStringLiteral("Exported 1 recording")
                               : QStringLiteral("Exported %1 recordings").arg(count.exported);
}

void MacSettingsView::exportAll()
{
    // One bulk export at a time: a second would copy the same files again over the first.
    if (exportRunning_) {
        return;
    }
    exportRunning_ = true;
    showExport();
    services_.exportManager.exportAllRecordings([self = QPointer(this)](FolderExportManager::Count count) {
        if (self) {
            self->exportRunning_ = false;
            self->showExport();
            StatusNotice::post(*self, self->services_.timer, exportNotice(count));
        }
    });
}

SettingsSection* MacSettingsView::aboutSection()
{
    auto* section = new SettingsSection(QStringLiteral("About"), this);
    section->setObjectName(QStringLiteral("aboutSection"));
    const std::pair<const char*, const char*> rows[] = {
        {"Version:", versionText},
        {"Build:", buildText},
        {"Platform:", platformText},
    };
    for (const auto& [label, value] : rows) {
        section->addRow(SettingsSection::labelledRow(QString::fromLatin1(label),
            {formText(QString::fromLatin1(value), TextStyle::body, Color::textSecondary(), section)}, section));
    }
    return section;
}

} // namespace parlino
