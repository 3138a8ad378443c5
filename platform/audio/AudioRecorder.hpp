#pragma once

#include "platform/audio/AudioCaptureSource.hpp"
#include "platform/audio/AudioFileOutput.hpp"
#include "platform/audio/AudioFileSettings.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Records live audio into a new file: captures from a source and encodes each block as it arrives,
// on the source's capture thread, converting to the file's rate and channel count when the source
// delivers another format. The file is complete once `stop` returns. The file is the recording: a
// copy in memory is kept only on request and only up to a length, so memory does not grow with
// the recording's length.
//
// The delegate hears, on the capture thread or the thread that stops: a stream that broke
// (`captureDidFail` with the source's reason, then `didFinishRecording(false)`, once), an encoder
// or write failure (`encodeErrorDidOccur` with the reason, once; later audio is dropped, and the
// file keeps what was whole before, or is gone when nothing was), and a clean stop
// (`didFinishRecording(true)`).
class AudioRecorder {
public:
    struct Delegate {
        std::function<void(bool successfully)> didFinishRecording;
        std::function<void(const std::string& message)> encodeErrorDidOccur;
        std::function<void(const std::string& reason)> captureDidFail;
    };
    // Makes the file that the audio goes to; throws std::system_error.
    using OutputFactory = std::function<std::unique_ptr<AudioFileOutput>(const std::filesystem::path& url)>;

    // Capture blocks of 20 ms: a stop loses at most that much of the last word.
    static constexpr double blockSeconds = 0.02;

    AudioRecorder(std::filesystem::path url, AudioFileSettings settings, std::shared_ptr<AudioCaptureSource> source,
        Delegate delegate = {});
    // Stops and finishes the file.
    ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    // Creates the file (never over one already at the url) and starts capture from the default input. Throws AudioFileError when the
    // file cannot be created and AudioCaptureError when capture cannot begin (the file is removed
    // again). May wait for the sound server: call it off the UI thread.
    void record();
    // Ends capture, encodes what is pending and finishes the file; later calls do nothing. Waits for
    // a running capture callback: call it off the UI thread and never from the delegate.
    void stop();

    // Keeps a copy of what goes into the file, in the file's format, for `takeRecordedAudio`, while
    // the recording is at most `frames` long; a longer one drops its copy at once. Set before `record`.
    void setKeepsRecordedAudio(std::int64_t frames);
    // Where the file's bytes go instead of a new file at the url. Set before `record`.
    void setOutputFactory(OutputFactory factory);
    // After `stop`: the audio of the whole recording, once; absent when it was not kept.
    std::optional<PCMBuffer> takeRecordedAudio();

    bool isRecording() const;
    // The encoder or a write failed: the file is not the whole recording.
    bool encodeFailed() const;
    // Frames in the file so far, at the file's rate.
    std::int64_t framesWritten() const;
    const std::filesystem::path& url() const { return url_; }
    const AudioFileSettings& settings() const { return settings_; }

private:
    struct State;

    std::filesystem::path url_;
    AudioFileSettings settings_;
    std::shared_ptr<AudioCaptureSource> source_;
    OutputFactory makeOutput_;
    std::shared_ptr<State> state_;
};

} // namespace platform
