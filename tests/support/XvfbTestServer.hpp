#pragma once

#include "support/ChildProcess.hpp"
#include "support/TemporaryDirectory.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A private X server for one test: Xvfb on a display number it picks itself (-displayfd), reachable
// only through its local socket, optionally with openbox as window manager. Both end when destroyed.
class XvfbTestServer {
public:
    struct Options {
        bool windowManager = false;
        std::vector<std::string> disabledExtensions;    // e.g. {"RECORD"}
        std::string screen = "1024x768x24";              // width x height x depth
        std::chrono::milliseconds startTimeout {20000};
    };

    // Nullptr, with the reason in `whyNot`, when no server can be started here.
    static std::unique_ptr<XvfbTestServer> start(std::string& whyNot, Options options);
    static std::unique_ptr<XvfbTestServer> start(std::string& whyNot) { return start(whyNot, Options {}); }

    ~XvfbTestServer();
    XvfbTestServer(const XvfbTestServer&) = delete;
    XvfbTestServer& operator=(const XvfbTestServer&) = delete;

    // E.g. ":42".
    const std::string& displayName() const { return displayName_; }
    // Environment for a helper program that should run on this display.
    std::vector<std::pair<std::string, std::string>> clientEnvironment() const;
    std::string log() const;

private:
    XvfbTestServer() = default;
    bool waitForWindowManager(std::chrono::milliseconds timeout, std::string& whyNot);

    TemporaryDirectory directory_;
    std::string displayName_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> windowManager_;
};

} // namespace testsupport
