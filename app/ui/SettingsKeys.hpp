#pragma once

namespace parlino::SettingsKeys {

// The after-recording settings shared by the options panel, the settings pane, the main window's
// completion step and dictation, with their defaults.
inline constexpr const char* copyToClipboardAfterRecording = "copyToClipboardAfterRecording";
inline constexpr bool copyToClipboardAfterRecordingDefault = true;
inline constexpr const char* autoEnterAfterPaste = "autoEnterAfterPaste";
inline constexpr bool autoEnterAfterPasteDefault = false;
inline constexpr const char* saveToRecordings = "saveToRecordings";
inline constexpr bool saveToRecordingsDefault = false;
inline constexpr const char* saveAudioFile = "saveAudioFile";
inline constexpr bool saveAudioFileDefault = false;
inline constexpr const char* selectedRecordingCategory = "selectedRecordingCategory";
inline constexpr const char* selectedRecordingCategoryDefault = "Personal";
inline constexpr const char* recordingTitle = "recordingTitle";
inline constexpr const char* recordingKeywords = "recordingKeywords";
inline constexpr const char* hasSeenOnboarding = "parlino_hasSeenOnboarding";

} // namespace parlino::SettingsKeys
