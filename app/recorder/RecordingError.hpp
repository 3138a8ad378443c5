#pragma once

#include <stdexcept>
#include <string>

namespace parlino {

// The recorder's error; each case describes itself with its fixed message.
class RecordingError : public std::runtime_error {
public:
    enum Case {
        microphoneAccessDenied,
        recordingFailed,
        transcriptionFailed,
        aurisNotInitialized,
        modelDownloadFailed,
    };

    explicit RecordingError(Case value)
        : std::runtime_error(messageOf(value))
        , case_(value)
    {
    }

    Case errorCase() const { return case_; }
    std::string localizedDescription() const { return what(); }

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

    friend bool operator==(const RecordingError& a, const RecordingError& b) { return a.case_ == b.case_; }

private:
    Case case_;
};

} // namespace parlino
