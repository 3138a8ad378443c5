#pragma once

#include <stdexcept>

namespace platform {

// Live capture that cannot start, resume or go on: no sound server, an unknown device, a bad format.
class AudioCaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace platform
