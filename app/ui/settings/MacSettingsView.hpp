#pragma once

#include "app/ui/AppServices.hpp"

#include <QString>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace parlino {

namespace design {
class ElidedLabel;
class PlainLabel;
} // namespace design

class SettingsSection;
class SettingsToggle;

// The settings pane: one scrolling form of ten sections (transcription, the active configuration
// with the model and its download, audio processing, after recording, AI shortcuts, push-to-talk,
// the global hotkey, storage, export and about). It keeps no state of its own beyond its four
// settings keys: every control reads and writes the settings or the managers, and every control
// follows them when they change elsewhere.
class MacSettingsView : public QWidget {
    Q_OBJECT

public:
    struct Language {
        QString code;
        QString name;
    };
    struct Model {
        QString id;
        QString pickerLabel;
        QString displayName;
    };

    static constexpr const char* versionText = "4.0 (Linux)";
    static constexpr const char* buildText = "2026.02.20";
    static constexpr const char* platformText = "Debian 12+";

    // The folder the user chose in the folder panel, or none when the panel was cancelled.
    using FolderChooser = std::function<std::optional<std::filesystem::path>(QWidget* parent)>;
    // The desktop's folder panel: directories only, folder creation allowed.
    static std::optional<std::filesystem::path> chooseFolderWithPanel(QWidget* parent);

    // The 99 choices of the language picker: automatic detection first, then the model's
    // languages by English name.
    static const std::vector<Language>& supportedLanguages();
    // The five speech models in picker order.
    static const std::vector<Model>& models();
    // The short name of a model id; an id that is not one of the five is returned unchanged.
    static QString modelDisplayName(const QString& modelId);
    // The download progress as a whole percentage with its Slovak suffix.
    static QString downloadedText(double progress);
    // What a finished bulk export tells the user.
    static QString exportNotice(FolderExportManager::Count count);

    explicit MacSettingsView(
        AppServices& services, FolderChooser chooseFolder = chooseFolderWithPanel, QWidget* parent = nullptr);
    ~MacSettingsView() override;

    QString preferredLanguage() const;
    // "Auto (Device Language)" when no language is chosen, the chosen language's name, or the
    // stored code itself when the table lacks it.
    QString languageDisplayName() const;
    bool isExportRunning() const { return exportRunning_; }

    // The sections in form order.
    std::vector<SettingsSection*> sections() const;

    // The stored Shortcut name of an app, else its default, else empty; writing an empty text
    // forgets the override.

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    SettingsSection* transcriptionSection();
    SettingsSection* configurationSection();
    QWidget* modelStatusBlock();
    SettingsSection* audioProcessingSection();
    SettingsSection* afterRecordingSection();
    SettingsSection* pushToTalkSection();
    QWidget* permissionMissingStatus(SettingsSection& section);
    SettingsSection* hotkeySection();
    SettingsSection* storageSection();
    SettingsSection* exportSection();
    SettingsSection* aboutSection();

    void appear();
    void readSetting(const QString& key);
    void showLanguage();
    void showModel();
    void showModelState();
    void showPreprocessing();
    void showAfterRecording();
    void showPushToTalk();
    void showExport();

    void whisperModelChanged();
    void runManualDownload();
    void confirmDeleteAndRedownload();
    void chooseExportFolder();
    void exportAll();

    AppServices& services_;
    FolderChooser chooseFolder_;
    bool appeared_ = false;
    // The model id the pane last saw while on screen; a change from it starts a switch.
    QString shownModel_;
    bool exportRunning_ = false;

    std::vector<SettingsSection*> sections_;

    QComboBox* languagePicker_ = nullptr;
    design::PlainLabel* activeLanguage_ = nullptr;
    QComboBox* modelPicker_ = nullptr;
    QToolButton* deleteModel_ = nullptr;
    QWidget* downloading_ = nullptr;
    design::PlainLabel* downloadingModel_ = nullptr;
    QProgressBar* downloadProgress_ = nullptr;
    design::PlainLabel* downloadedPercent_ = nullptr;
    QWidget* ready_ = nullptr;
    design::PlainLabel* readyModel_ = nullptr;
    design::PlainLabel* notDownloaded_ = nullptr;
    // Why the model, or a switch to another, could not be set up.
    design::PlainLabel* modelFailure_ = nullptr;
    QWidget* applyRow_ = nullptr;
    QPushButton* applyModel_ = nullptr;
    QWidget* downloadHint_ = nullptr;
    design::PlainLabel* downloadHintText_ = nullptr;

    SettingsToggle* preprocessing_ = nullptr;
    SettingsToggle* noiseSuppression_ = nullptr;
    SettingsToggle* volumeNormalization_ = nullptr;
    SettingsToggle* resample16kHz_ = nullptr;

    SettingsToggle* copyToClipboard_ = nullptr;
    SettingsToggle* autoEnter_ = nullptr;
    SettingsToggle* soundFeedback_ = nullptr;


    SettingsToggle* globeTrigger_ = nullptr;
    SettingsToggle* capsLockTrigger_ = nullptr;
    SettingsToggle* rightShiftTrigger_ = nullptr;
    QWidget* notListening_ = nullptr;
    QWidget* permissionMissing_ = nullptr;
    design::PlainLabel* permissionHeadline_ = nullptr;
    design::PlainLabel* permissionGrant_ = nullptr;
    QWidget* listening_ = nullptr;
    design::PlainLabel* triggerNotice_ = nullptr;
    QWidget* triggerNoticeRow_ = nullptr;

    design::ElidedLabel* exportFolder_ = nullptr;
    QWidget* autoExportRow_ = nullptr;
    SettingsToggle* autoExport_ = nullptr;
    QWidget* exportAllRow_ = nullptr;
    QPushButton* exportAll_ = nullptr;
    QWidget* exportErrorRow_ = nullptr;
    design::PlainLabel* exportError_ = nullptr;
};

} // namespace parlino
