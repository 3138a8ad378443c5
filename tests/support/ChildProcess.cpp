#include "support/ChildProcess.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

std::string ChildProcess::findProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    const std::string directories = path ? path : "/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= directories.size()) {
        const auto end = std::min(directories.find(':', begin), directories.size());
        const auto candidate = std::filesystem::path(directories.substr(begin, end - begin)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        begin = end + 1;
    }
    return {};
}

std::unique_ptr<ChildProcess> ChildProcess::start(std::vector<std::string> arguments, std::string& whyNot, Options options)
{
    if (arguments.empty()) {
        whyNot = "no program to run";
        return nullptr;
    }
    const auto program = findProgram(arguments[0]);
    if (program.empty()) {
        whyNot = "the program " + arguments[0] + " is not installed";
        return nullptr;
    }
    std::map<std::string, std::string> environment;
    if (!options.inheritEnvironment) {
        const char* path = std::getenv("PATH");
        environment["PATH"] = path ? path : "/usr/bin:/bin";
    }
    for (char** entry = environ; options.inheritEnvironment && *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            environment[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : options.environment) {
        environment[name] = value;
    }
    std::vector<std::string> environmentText;
    for (const auto& [name, value] : environment) {
        environmentText.push_back(name + "=" + value);
    }

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        whyNot = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    if (options.passFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.passFd, 3);
    }
    // The child gets a signal mask and dispositions of its own, not the test's.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environmentText) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    std::unique_ptr<ChildProcess> child(new ChildProcess());
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(output[1]);
    if (spawned != 0) {
        ::close(output[0]);
        whyNot = "cannot run " + program + ": " + std::strerror(spawned);
        return nullptr;
    }
    child->pid_ = pid;
    child->reader_ = std::thread([raw = child.get(), fd = output[0]] { raw->readOutput(fd); });
    return child;
}

ChildProcess::~ChildProcess()
{
    terminate();
    if (reader_.joinable()) {
        reader_.join();
    }
}

void ChildProcess::readOutput(int fd)
{
    char buffer[4096];
    for (;;) {
        const auto count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<std::size_t>(count));
        partial_.append(buffer, static_cast<std::size_t>(count));
        for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    if (!partial_.empty()) {
        lines_.push_back(std::move(partial_));
        partial_.clear();
    }
    outputClosed_ = true;
    changed_.notify_all();
}

std::optional<std::string> ChildProcess::waitForLine(const std::function<bool(const std::string&)>& wanted,
                                                     std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!lines_.empty()) {
            auto line = std::move(lines_.front());
            lines_.pop_front();
            if (wanted(line)) {
                return line;
            }
        }
        if (outputClosed_) {
            return std::nullopt;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && lines_.empty()) {
            return std::nullopt;
        }
    }
}

bool ChildProcess::hasExited()
{
    if (reaped_) {
        return true;
    }
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return reaped_;
}

std::optional<int> ChildProcess::exitCode()
{
    if (!hasExited() || !WIFEXITED(status_)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status_);
}

void ChildProcess::kill()
{
    if (pid_ <= 0 || hasExited()) {
        return;
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    reaped_ = true;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (hasExited()) {
        return true;
    }
    // A process descriptor turns readable when the program ends, whatever became of its output.
    const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (descriptor >= 0) {
        pollfd ended {descriptor, POLLIN, 0};
        ::poll(&ended, 1, static_cast<int>(timeout.count()));
        ::close(descriptor);
    }
    return hasExited();
}

void ChildProcess::terminate(std::chrono::milliseconds grace)
{
    if (pid_ <= 0 || hasExited()) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (!waitForExit(grace)) {
        kill();
    }
}

std::string ChildProcess::output() const
{
    std::lock_guard lock(mutex_);
    return output_;
}

} // namespace testsupport
