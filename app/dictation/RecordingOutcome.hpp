#pragma once

#include <QString>

#include <optional>

namespace parlino {

// Where a finished recording's transcript went, and what the window tells the user about it.
struct RecordingOutcome {
    enum class Tone { good, problem };
    struct Notice {
        QString text;
        Tone tone;
    };

    bool hasTranscript = false;
    // Saved without a transcript, to be transcribed later.
    bool transcriptPending = false;
    // No speech model was ready when the recording ended.
    bool modelMissing = false;
    bool copied = false;
    bool pasted = false;
    bool saved = false;
    // Why saving failed, when it was tried and failed.
    std::optional<QString> saveFailure;

    // The short line after the stop; none when the transcript must stay on screen instead.
    std::optional<Notice> notice() const;
    // Nothing keeps the transcript: neither the clipboard, the cursor nor the library has it.
    bool transcriptWouldBeLost() const { return hasTranscript && !copied && !pasted && !saved; }
};

} // namespace parlino
