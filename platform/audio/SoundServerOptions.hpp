#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace platform {

// How a client of the sound server reaches it.
struct SoundServerOptions {
    std::optional<std::string> server;             // e.g. "unix:/run/user/1000/pulse/native"; unset: the usual lookup
    std::string applicationName = "Parlino";
    std::chrono::milliseconds timeout {5000};      // bound on every wait for the server
};

} // namespace platform
