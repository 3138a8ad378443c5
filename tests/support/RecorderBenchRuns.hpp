#pragma once

#include "app/recorder/WhisperRecorder.hpp"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace testsupport {

// For benchmarks that drive the recorder on this thread: runs the event loop until the condition holds.
template <typename Condition>
void spinUntil(Condition condition)
{
    while (!condition()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

// Starts a recording and waits until it runs; a start that fails ends the benchmark (status 2).
inline void startRecordingOrExit(parlino::WhisperRecorder& recorder)
{
    bool started = false;
    recorder.startRecording([&](std::exception_ptr error) {
        if (error) {
            std::fprintf(stderr, "the recording did not start\n");
            std::exit(2);
        }
        started = true;
    });
    spinUntil([&] { return started; });
}

} // namespace testsupport
