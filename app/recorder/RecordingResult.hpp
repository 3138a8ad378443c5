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
};

} // namespace parlino
