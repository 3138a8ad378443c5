#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// A failure of the audio file layer: the file cannot be opened, decoded, encoded or written.
class AudioFileError : public std::runtime_error {
public:
    explicit AudioFileError(const std::string& message)
        : std::runtime_error(message)
    {
    }
};

} // namespace platform
