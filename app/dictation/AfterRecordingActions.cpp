#include "app/dictation/AfterRecordingActions.hpp"

#include "app/dictation/ChosenRecordingOptions.hpp"

#include <exception>
#include <filesystem>

namespace parlino {

AfterRecordingActions::AfterRecordingActions(Services services)
    : services_(std::move(services))
{
}

RecordingOutcome AfterRecordingActions::carryOut(const AfterRecording& plan, const RecordingResult& result)
{
    RecordingOutcome outcome = plan.outcome;
    const bool window = plan.road == AfterRecording::Road::window;
    if (plan.keepWithoutTranscript) {
        services_.log(QStringLiteral("💾 Keeping the recording without a transcript: ")
            + QString::fromStdString(result.audioURL->filename().string()));
    }
    if (window) {
        copy(plan, result.transcription);
    }
    if (plan.save) {
        save(plan, result, outcome);
    }
    if (plan.textOnly) {
        services_.log(QStringLiteral("📝 Saved text-only (audio kept for recording entry)"));
    }
    if (plan.removeAudio) {
        if (result.audioURL) {
            std::error_code ignored;
            std::filesystem::remove(*result.audioURL, ignored);
        }
        services_.log(QStringLiteral("🗑️ Audio file deleted (text-only mode)"));
    }
    if (plan.paste) {
        services_.dictationHelper.pasteAtCursor(result.transcription);
    }
    if (!window) {
        copy(plan, result.transcription);
    }
    return outcome;
}

void AfterRecordingActions::copy(const AfterRecording& plan, const QString& transcript)
{
    if (!plan.copy) {
        return;
    }
    services_.clipboard.replaceText(transcript);
    if (plan.announceCopy) {
        services_.log(plan.road == AfterRecording::Road::window
                ? QStringLiteral("📋 Transcription copied to clipboard")
                : QStringLiteral("📋 Transcription copied to clipboard (hotkey)"));
    }
}

void AfterRecordingActions::save(const AfterRecording& plan, const RecordingResult& result, RecordingOutcome& outcome)
{
    const RecordingCategory category = ChosenRecordingOptions::category(services_.defaults);
    try {
        const Recording saved = services_.library.saveRecording(result);
        // The category and title the record screen shows go to the recording just saved, found by its id.
        ChosenRecordingOptions::apply(services_.library, services_.defaults, saved);
        services_.log(plan.road == AfterRecording::Road::window
                ? QStringLiteral("✅ Recording saved (category: ") + category.rawValue() + QLatin1Char(')')
                : QStringLiteral("✅ Recording saved to computer"));
        outcome.saved = true;
    } catch (const std::exception& error) {
        const QString reason = QString::fromUtf8(error.what());
        services_.log(QStringLiteral("❌ Save failed: ") + reason);
        outcome.saveFailure = reason;
    }
}

} // namespace parlino
