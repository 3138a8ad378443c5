#include "app/dictation/ChosenRecordingOptions.hpp"

#include "app/dictation/SettingsKeys.hpp"

#include <exception>

namespace parlino {

RecordingCategory ChosenRecordingOptions::category(const platform::UserDefaults& defaults)
{
    const auto stored = RecordingCategory::fromRawValue(defaults.stringValue(
        QString::fromLatin1(SettingsKeys::selectedRecordingCategory),
        QString::fromLatin1(SettingsKeys::selectedRecordingCategoryDefault)));
    return stored && *stored != RecordingCategory::all ? *stored : RecordingCategory(RecordingCategory::personal);
}

void ChosenRecordingOptions::apply(LibraryService& library, platform::UserDefaults& defaults, const Recording& saved)
{
    try {
        library.updateCategory(saved, category(defaults));
    } catch (const std::exception&) {
    }
    const QString titleKey = QString::fromLatin1(SettingsKeys::recordingTitle);
    const QString title = defaults.stringValue(titleKey);
    if (title.isEmpty()) {
        return;
    }
    try {
        library.updateTitle(library.recording(saved.id).value_or(saved), title);
    } catch (const std::exception&) {
    }
    defaults.setString(titleKey, QString());
}

} // namespace parlino
