#pragma once

#include "app/recorder/RecordingError.hpp"

#include <QString>

#include <optional>

namespace parlino {

// What one transcription of a file gave.
struct AttemptOutcome {
    QString text;
    std::optional<RecordingError::Case> error;
    bool transcribed = false;
};

} // namespace parlino
