#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

// A helper program run by a test: its standard output and error are read line by line, and it is
// ended (SIGTERM, then SIGKILL) when the object goes.
class ChildProcess {
public:
    struct Options {
        std::vector<std::pair<std::string, std::string>> environment;   // set on top of this process's own
        bool inheritEnvironment = true;                                  // false: `environment` and PATH only
        int passFd = -1;                                                 // given to the child as fd 3
    };

    // Nullptr, with the reason in `whyNot`, when the program cannot be run. `arguments[0]` is a path
    // or a name looked up in PATH.
    static std::unique_ptr<ChildProcess> start(std::vector<std::string> arguments, std::string& whyNot, Options options);
    static std::unique_ptr<ChildProcess> start(std::vector<std::string> arguments, std::string& whyNot)
    {
        return start(std::move(arguments), whyNot, Options {});
    }

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    // Takes output lines in order until one satisfies `wanted`, which is returned; nothing when the
    // output ends or `timeout` passes first. Lines passed over are dropped.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& wanted,
                                           std::chrono::milliseconds timeout);
    // True when the program ended within `timeout`.
    bool waitForExit(std::chrono::milliseconds timeout);
    void terminate(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Ends the program at once, as a crash would.
    void kill();
    bool hasExited();
    // The exit code of a program that ended by itself; nothing while it runs or when a signal ended it.
    std::optional<int> exitCode();
    std::string output() const;

    // The full path of `name` in PATH; empty when it is not installed.
    static std::string findProgram(const std::string& name);

private:
    ChildProcess() = default;
    void readOutput(int fd);

    int pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    std::string partial_;
    std::deque<std::string> lines_;
    bool outputClosed_ = false;
};

} // namespace testsupport
