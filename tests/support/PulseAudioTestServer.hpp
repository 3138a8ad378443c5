#pragma once

#include "support/ChildProcess.hpp"
#include "support/TemporaryDirectory.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace testsupport {

// A private PulseAudio server for one test: a null output and a microphone fed through a named pipe,
// reachable only through its own socket in a temporary folder. Killed when destroyed.
class PulseAudioTestServer {
public:
    struct Options {
        std::string microphoneName = "parlino_test_mic";
        std::string microphoneDescription = "Parlino Test Microphone";
        std::uint32_t sampleRate = 48000;
        std::uint32_t channelCount = 2;
        std::chrono::milliseconds startTimeout {20000};
    };

    // Nullptr, with the reason in `whyNot`, when no server can be started here.
    static std::unique_ptr<PulseAudioTestServer> start(std::string& whyNot, Options options);
    static std::unique_ptr<PulseAudioTestServer> start(std::string& whyNot) { return start(whyNot, Options {}); }

    ~PulseAudioTestServer();
    PulseAudioTestServer(const PulseAudioTestServer&) = delete;
    PulseAudioTestServer& operator=(const PulseAudioTestServer&) = delete;

    // The address for a client, e.g. "unix:/tmp/.../native".
    std::string address() const;
    const Options& options() const { return options_; }

    // Writes interleaved samples (clipped to -1...1, sent as 16-bit) into the microphone. Returns false
    // when they could not all be written within `timeout` or `cancel` was set.
    bool feed(std::span<const float> samples, std::chrono::milliseconds timeout,
              const std::atomic<bool>* cancel = nullptr);

    // Runs pactl against this server, e.g. {"unload-module", "module-pipe-source"}; true when it succeeded.
    bool control(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Ends the server at once, as a crash would.
    void kill();

    std::string log() const;

private:
    PulseAudioTestServer() = default;

    Options options_;
    TemporaryDirectory directory_;
    std::unique_ptr<ChildProcess> process_;
    int fifo_ = -1;
};

} // namespace testsupport
