#pragma once

#include <optional>

namespace platform {

// How a new audio file stores its audio. The container follows the file name: ".wav" holds
// linear PCM (32-bit float), ".m4a" holds AAC.
struct AudioFileSettings {
    enum class FormatID { linearPCM, mpeg4AAC };

    FormatID formatID = FormatID::linearPCM;
    double sampleRate = 16000;
    int channelCount = 1;
    // AAC bits per second; absent lets the encoder choose.
    std::optional<int> bitRate;
};

} // namespace platform
