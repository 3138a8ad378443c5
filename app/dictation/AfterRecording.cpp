#include "app/dictation/AfterRecording.hpp"

#include "app/dictation/SettingsKeys.hpp"

namespace parlino {

AfterRecording::Settings AfterRecording::Settings::read(const platform::UserDefaults& defaults)
{
    const auto value = [&defaults](const char* key, bool fallback) {
        return defaults.boolValue(QString::fromLatin1(key), fallback);
    };
    return Settings {
        value(SettingsKeys::copyToClipboardAfterRecording, SettingsKeys::copyToClipboardAfterRecordingDefault),
        value(SettingsKeys::saveToRecordings, SettingsKeys::saveToRecordingsDefault),
        value(SettingsKeys::saveAudioFile, SettingsKeys::saveAudioFileDefault),
    };
}

AfterRecording AfterRecording::decide(const RecordingResult& result, const Settings& settings, const Situation& situation)
{
    AfterRecording plan;
    plan.road = situation.road;
    const bool hasTranscript = !result.transcription.isEmpty();
    plan.outcome.hasTranscript = hasTranscript;
    plan.outcome.transcriptPending = result.transcriptPending;
    plan.outcome.modelMissing = !situation.modelReady;

    if (situation.road == Road::hotkey) {
        plan.save = true;
        if (hasTranscript) {
            plan.paste = !situation.ownWindowInFront;
            // Pasting into our own window would type the transcript into its fields; the clipboard
            // still gets it, or this road would drop the text altogether.
            plan.copy = settings.copyToClipboard || situation.ownWindowInFront;
            plan.announceCopy = settings.copyToClipboard;
        }
    } else {
        // A recording that could not be transcribed, or not wholly written, is never thrown away.
        const bool mustKeep = result.mustBeKept();
        const bool keepAudio = mustKeep || settings.saveAudioFile;
        plan.keepWithoutTranscript = mustKeep;
        plan.copy = settings.copyToClipboard && hasTranscript;
        plan.announceCopy = plan.copy;
        plan.save = mustKeep || settings.saveToRecordings;
        plan.textOnly = plan.save && !keepAudio;
        plan.removeAudio = !plan.save && !keepAudio;
    }
    plan.outcome.copied = plan.copy;
    plan.outcome.pasted = plan.paste;
    return plan;
}

} // namespace parlino
