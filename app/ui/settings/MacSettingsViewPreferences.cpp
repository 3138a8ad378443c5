// The pane's sections for audio processing and after-recording behaviour.
#include "app/ui/settings/MacSettingsView.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/settings/SettingsToggle.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/SwitchToggle.hpp"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

// A labelled row whose label starts under the controls of the rows above.
QWidget* indentedLabelledRow(const QString& label, QWidget* control, QWidget* parent, int labelWidth)
{
    QWidget* row = SettingsSection::labelledRow(label, {control}, parent, labelWidth);
    row->layout()->setContentsMargins(SettingsSection::indent, 0, 0, 0);
    return row;
}

} // namespace

SettingsSection* MacSettingsView::audioProcessingSection()
{
    auto* section = new SettingsSection(QStringLiteral("Audio Processing (v6)"), this);
    section->setObjectName(QStringLiteral("audioProcessingSection"));
    RecorderService& recorder = services_.recorder;
    preprocessing_ = new SettingsToggle(services_.clock, QStringLiteral("Enabled"), section);
    preprocessing_->toggle()->setObjectName(QStringLiteral("preprocessingSwitch"));
    preprocessing_->setToolTip(QStringLiteral("Enable audio preprocessing for better transcription quality"));
    connect(preprocessing_, &SettingsToggle::flipped, this,
        [&recorder](bool on) { recorder.setAudioPreprocessingEnabled(on); });
    section->addRow(SettingsSection::labelledRow(QStringLiteral("Preprocessing:"), {preprocessing_}, section));
    section->addRow(SettingsSection::indentedRow({formText(QStringLiteral("Improves transcription accuracy by 15-30%"),
                                                     TextStyle::caption, Color::textSecondary(), section)},
        0, section));
    section->addDivider();

    const struct {
        SettingsToggle*& toggle;
        const char* label;
        const char* help;
        const char* objectName;
        void (RecorderService::*write)(bool);
    } steps[] = {
        {noiseSuppression_, "Noise Suppression:", "Remove background noise", "noiseSuppressionSwitch",
            &RecorderService::setNoiseSuppression},
        {volumeNormalization_, "Volume Normalization:", "Normalize audio volume", "volumeNormalizationSwitch",
            &RecorderService::setVolumeNormalization},
        {resample16kHz_, "16kHz Resampling:", "Optimize for Auris (faster transcription)", "resample16kHzSwitch",
            &RecorderService::setResample16kHz},
    };
    QStringList labels;
    for (const auto& step : steps) {
        labels << QString::fromLatin1(step.label);
    }
    // The step labels are longer than the usual column; they share one so their switches line up.
    const int labelWidth = SettingsSection::labelWidthFor(labels);
    for (const auto& step : steps) {
        step.toggle = new SettingsToggle(services_.clock, QString(), section);
        step.toggle->toggle()->setObjectName(QString::fromLatin1(step.objectName));
        step.toggle->setToolTip(QString::fromLatin1(step.help));
        step.toggle->toggle()->setAccessibleName(QString::fromLatin1(step.label));
        connect(step.toggle, &SettingsToggle::flipped, this,
            [&recorder, write = step.write](bool on) { (recorder.*write)(on); });
        section->addRow(indentedLabelledRow(QString::fromLatin1(step.label), step.toggle, section, labelWidth));
    }
    return section;
}

void MacSettingsView::showPreprocessing()
{
    const RecorderService& recorder = services_.recorder;
    const bool enabled = recorder.audioPreprocessingEnabled();
    preprocessing_->showValue(enabled);
    noiseSuppression_->showValue(recorder.noiseSuppression());
    volumeNormalization_->showValue(recorder.volumeNormalization());
    resample16kHz_->showValue(recorder.resample16kHz());
    // The steps keep their values while preprocessing is off; they only cannot be changed.
    for (SettingsToggle* step : {noiseSuppression_, volumeNormalization_, resample16kHz_}) {
        step->setEnabled(enabled);
    }
}

SettingsSection* MacSettingsView::afterRecordingSection()
{
    auto* section = new SettingsSection(QStringLiteral("After Recording"), this);
    section->setObjectName(QStringLiteral("afterRecordingSection"));
    const struct {
        SettingsToggle*& toggle;
        const char* label;
        const char* title;
        const char* key;
        const char* explanation;
        const char* objectName;
    } groups[] = {
        {copyToClipboard_, "Clipboard:", "Copy transcription to clipboard", SettingsKeys::copyToClipboardAfterRecording,
            "Automatically copy transcribed text to clipboard after recording stops.", "copyToClipboardSetting"},
        {autoEnter_, "Auto-Enter:", "Press Enter after paste", SettingsKeys::autoEnterAfterPaste,
            "Automatically press Enter after pasting text (useful for chat apps like Slack, Teams).",
            "autoEnterSetting"},
        {soundFeedback_, "Sound feedback:", "Play sounds (Ping, Pop, Glass)", SettingsKeys::soundFeedbackEnabled,
            "Audio feedback when recording starts, stops, and transcription completes.", "soundFeedbackSetting"},
    };
    bool first = true;
    for (const auto& group : groups) {
        if (!first) {
            section->addDivider();
        }
        first = false;
        group.toggle = new SettingsToggle(services_.clock, QString::fromUtf8(group.title), section);
        group.toggle->toggle()->setObjectName(QString::fromLatin1(group.objectName));
        connect(group.toggle, &SettingsToggle::flipped, this,
            [this, settingsKey = key(group.key)](bool on) { services_.defaults.setBool(settingsKey, on); });
        section->addRow(SettingsSection::labelledRow(QString::fromUtf8(group.label), {group.toggle}, section));
        auto* explanation
            = formText(QString::fromUtf8(group.explanation), TextStyle::caption, Color::textSecondary(), section);
        explanation->setWordWrap(true);
        explanation->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        section->addRow(SettingsSection::indentedRow({explanation}, 0, section));
    }
    return section;
}

void MacSettingsView::showAfterRecording()
{
    const platform::UserDefaults& defaults = services_.defaults;
    copyToClipboard_->showValue(defaults.boolValue(
        key(SettingsKeys::copyToClipboardAfterRecording), SettingsKeys::copyToClipboardAfterRecordingDefault));
    autoEnter_->showValue(
        defaults.boolValue(key(SettingsKeys::autoEnterAfterPaste), SettingsKeys::autoEnterAfterPasteDefault));
    soundFeedback_->showValue(
        defaults.boolValue(key(SettingsKeys::soundFeedbackEnabled), SettingsKeys::soundFeedbackEnabledDefault));
}

} // namespace parlino
