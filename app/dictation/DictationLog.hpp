#pragma once

#include <QString>

#include <functional>

namespace parlino {

// Where a manager's log lines go: the system log for the push-to-talk road, standard output for the
// hotkey; tests collect them.
using LogSink = std::function<void(const QString& line)>;

// The system log, tagged as dictation.
LogSink systemLogSink();
// Standard output.
LogSink consoleSink();

} // namespace parlino
