#pragma once

#include "app/recorder/CaseError.hpp"

namespace parlino {

struct RecordingErrorCases {
    enum Case {
        microphoneAccessDenied,
        recordingFailed,
        transcriptionFailed,
        aurisNotInitialized,
        modelDownloadFailed,
    };

    static const char* messageOf(Case value)
    {
        switch (value) {
        case microphoneAccessDenied: return "Microphone access denied. Enable in Settings.";
        case recordingFailed: return "Recording failed. Try again.";
        case transcriptionFailed: return "Transcription failed. Audio saved.";
        case aurisNotInitialized: return "Auris not initialized. Please wait...";
        case modelDownloadFailed: return "Failed to download Whisper model. Check internet connection.";
        }
        return "";
    }
};

// The recorder's error.
using RecordingError = CaseError<RecordingErrorCases>;

} // namespace parlino
