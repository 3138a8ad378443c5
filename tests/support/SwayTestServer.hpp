#pragma once

#include "support/ChildProcess.hpp"
#include "support/TemporaryDirectory.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A private Wayland compositor for one test: sway on its headless backend with the pixman renderer
// and no input devices, its socket in a runtime folder of its own, without Xwayland. As root it runs
// as the `nobody` system user (sway refuses root). It ends when destroyed, or with the thread that
// started it.
class SwayTestServer {
public:
    struct Options {
        std::chrono::milliseconds startTimeout {20000};
    };

    // False, with the reason, when sway cannot run here (not installed, or root with no user to run
    // it as); tests skip then.
    static bool available(std::string& whyNot);
    // Throws std::runtime_error with sway's output when it does not come up.
    static std::unique_ptr<SwayTestServer> start(Options options);
    static std::unique_ptr<SwayTestServer> start() { return start(Options {}); }

    ~SwayTestServer();
    SwayTestServer(const SwayTestServer&) = delete;
    SwayTestServer& operator=(const SwayTestServer&) = delete;

    // The socket's absolute path, a WAYLAND_DISPLAY any client may use.
    const std::string& displayName() const { return displayName_; }
    // Environment for a client of this compositor, Qt programs on their Wayland platform; its runtime
    // folder is the client's own, apart from the compositor's.
    std::vector<std::pair<std::string, std::string>> clientEnvironment() const;
    std::string log() const;

private:
    SwayTestServer() = default;

    TemporaryDirectory directory_;
    std::string displayName_;
    std::unique_ptr<ChildProcess> sway_;
};

} // namespace testsupport
