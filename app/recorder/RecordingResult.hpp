#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace parlino {

// What the recorder hands back when a recording stops.
struct RecordingResult {
    // The recorded audio under its final name; absent when there is no file.
    std::optional<std::filesystem::path> audioURL;
    // Empty when transcription failed or was skipped.
    QString transcription;
    // Seconds as the recorder measured them; 0 or less means not measured.
    double duration = 0;
    std::optional<QString> generatedTitle;
    // The audio could not be transcribed although it was recorded: no model was ready, or the engine
    // failed. The recording is kept, whatever the after-recording settings say, for a later
    // re-transcription.
    bool transcriptPending = false;
    // Why the audio could not all be written (a full disk, an unwritable folder); the file, when
    // there is one, holds what was captured before, under its first name.
    std::optional<QString> writeFailure;

    // Kept in the library with its audio whatever the after-recording settings say.
    bool mustBeKept() const { return audioURL && (transcriptPending || writeFailure); }
};

} // namespace parlino
