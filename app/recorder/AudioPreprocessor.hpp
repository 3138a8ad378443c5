#pragma once

#include "app/recorder/ConsoleLog.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace parlino {

// Cleans a recording before transcription: an 80 Hz high-pass against rumble, peak normalisation to
// -3 dBFS, and one conversion to one channel at 16 kHz, each with its own switch. The recording is
// gone through block by block, twice when the volume is normalised (its peak first), so that the
// memory it takes does not grow with its length; the result is the one of the whole recording in
// one piece. Works on its own objects only; safe on any thread.
class AudioPreprocessor {
public:
    static constexpr double targetSampleRate = 16000.0;
    static constexpr float highPassCutoff = 80.0f;
    static constexpr float normalizationTargetDB = -3.0f;
    // Peaks at or below this are silence and are not raised.
    static constexpr float silenceThreshold = 0.001f;
    // Frames read at a time.
    static constexpr std::uint32_t blockFrames = 1 << 16;

    // Writes the cleaned audio to a new "preprocessed_<UUID>.wav" in `outputFolder` (made private to
    // the user, the file readable by the user alone) and returns it; nullopt after any failure,
    // which is logged and leaves no file behind. The input is only read.
    // The scratch file is lossless 32-bit float: it is read once, by the engine, and encoding a
    // minute of AAC would cost far more than the cleaning itself.
    static std::optional<std::filesystem::path> preprocessAudio(const std::filesystem::path& input,
        bool noiseSuppression, bool volumeNormalization, bool resample16kHz, const std::filesystem::path& outputFolder,
        const ConsoleLog& log);
    // The same for a recording already in memory (what the recorder captured of a short one), which
    // saves decoding the file again.
    static std::optional<std::filesystem::path> preprocessAudio(platform::PCMBuffer recording, bool noiseSuppression,
        bool volumeNormalization, bool resample16kHz, const std::filesystem::path& outputFolder, const ConsoleLog& log);

    // Whether a file name is one `preprocessAudio` makes, such as one a crash left behind.
    static bool isScratchName(std::string_view name);

    // First-order RC high-pass on every channel, in place.
    static void applyHighPassFilter(platform::PCMBuffer& buffer, float cutoffFrequency);
    // Scales every channel so that the largest magnitude lands at `targetDB`, unless it is silence.
    static void normalizeVolume(platform::PCMBuffer& buffer, float targetDB);
};

} // namespace parlino
