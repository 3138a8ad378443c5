#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace auris {

// An input the user can record from: the sound server's number for it and the name it shows.
struct AudioDevice {
    std::uint32_t id = 0;
    std::string name;

    friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

} // namespace auris

template<>
struct std::hash<auris::AudioDevice> {
    std::size_t operator()(const auris::AudioDevice& device) const noexcept
    {
        const std::size_t seed = std::hash<std::uint32_t> {}(device.id);
        return seed ^ (std::hash<std::string> {}(device.name) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
    }
};
