#pragma once

#include "platform/audio/AudioCaptureFormat.hpp"

#include <cstdint>
#include <string>

namespace platform {

// An input the user can record from.
struct AudioInputDevice {
    std::uint32_t id = 0;          // the sound server's number for it; may change when it reappears
    std::string name;              // stable name; what a capture request names
    std::string description;       // what the user is shown
    bool isDefault = false;        // the input used when a request names none
    AudioCaptureFormat nativeFormat;

    friend bool operator==(const AudioInputDevice&, const AudioInputDevice&) = default;
};

} // namespace platform
