#pragma once

namespace parlino::SettingsKeys {

// The settings shared by the options panel, the settings pane, the main window's completion step,
// dictation and the hotkey, with their defaults.
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
inline constexpr const char* soundFeedbackEnabled = "soundFeedbackEnabled";
inline constexpr bool soundFeedbackEnabledDefault = true;

// The push-to-talk triggers; the Globe trigger is the Right Ctrl key here.
inline constexpr const char* dictationCapsLockEnabled = "dictationCapsLockEnabled";
inline constexpr bool dictationCapsLockEnabledDefault = true;
inline constexpr const char* dictationRightShiftEnabled = "dictationRightShiftEnabled";
inline constexpr bool dictationRightShiftEnabledDefault = false;
inline constexpr const char* dictationGlobeEnabled = "dictationGlobeEnabled";
inline constexpr bool dictationGlobeEnabledDefault = true;

// The global hotkey in the stored layout: modifier flags and a virtual key code of the original
// platform, absent until a hotkey is registered.
inline constexpr const char* globalHotkeyModifiers = "globalHotkeyModifiers";
inline constexpr const char* globalHotkeyKeyCode = "globalHotkeyKeyCode";

} // namespace parlino::SettingsKeys
