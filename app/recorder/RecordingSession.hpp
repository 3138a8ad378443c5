#pragma once

#include <QDateTime>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>

namespace platform {
class AudioRecorder;
}

namespace parlino {

// One recording from its start to the stop that takes it.
struct RecordingSession {
    std::filesystem::path url;
    std::shared_ptr<platform::AudioRecorder> recorder;
    QDateTime startTime;
    // Why the audio could not all be written; the file keeps what was whole before.
    std::optional<QString> writeFailure;
    // Told once, whatever ended it: the capture is over and only the stop that takes it is left.
    bool interrupted = false;
};

} // namespace parlino
