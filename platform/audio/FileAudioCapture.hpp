#pragma once

#include "platform/audio/AudioCaptureSource.hpp"
#include "platform/audio/FakeAudioCapture.hpp"

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace platform {

// An audio file standing in for the microphone, so that the program can be run and tested without
// one. Its one input is named after the file. Every start hears the whole file, converted to the
// capture format, and has delivered it before `start` returns; after that the input is silent.
class FileAudioCapture final : public AudioCaptureSource {
public:
    static constexpr const char* deviceName = "parlino_capture_file";

    explicit FileAudioCapture(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // Interleaved samples of the whole file in `format`. Throws AudioFileError when it cannot be
    // read or converted.
    static std::vector<float> decode(const std::filesystem::path& file, AudioCaptureFormat format);

    // Empty when the file cannot be read, as a machine without a microphone has none.
    std::vector<AudioInputDevice> inputDevices() override;
    // Throws AudioCaptureError when the file cannot be read.
    AudioCaptureFormat start(const AudioCaptureRequest& request, BlockCallback onBlock,
                             FailureCallback onFailure = {}) override;
    void pause() override;
    void resume() override;
    void stop() override;
    bool isCapturing() const override;

private:
    std::filesystem::path file_;
    FakeAudioCapture stream_;
};

} // namespace platform
