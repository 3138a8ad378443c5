#include "support/PulseAudioTestServer.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

std::string findProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
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

} // namespace

std::unique_ptr<PulseAudioTestServer> PulseAudioTestServer::start(std::string& whyNot, Options options)
{
    const auto program = findProgram("pulseaudio");
    if (program.empty()) {
        whyNot = "the pulseaudio program is not installed";
        return nullptr;
    }
    // Writing to the microphone pipe of a server that died must fail, not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<PulseAudioTestServer> server(new PulseAudioTestServer());
    server->options_ = options;
    const auto& root = server->directory_.path();
    const auto socket = root / "native";
    if (socket.string().size() >= sizeof(sockaddr_un {}.sun_path)) {
        whyNot = "the temporary folder's path is too long for a socket";
        return nullptr;
    }
    std::filesystem::create_directories(root / "runtime");
    std::filesystem::create_directories(root / "home");
    std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
    const auto fifo = root / "microphone.fifo";
    writeFile(root / "server.pa",
              "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket.string() + "\n"
              "load-module module-null-sink sink_name=parlino_test_output\n"
              "load-module module-pipe-source source_name=" + options.microphoneName + " file=" + fifo.string()
              + " format=s16le rate=" + std::to_string(options.sampleRate) + " channels="
              + std::to_string(options.channelCount) + " source_properties=\"device.description='"
              + options.microphoneDescription + "'\"\n"
              "set-default-source " + options.microphoneName + "\n");

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

    const std::string script = (root / "server.pa").string();
    std::vector<std::string> arguments {program, "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit=yes",
                                        "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                                        "--log-level=info", "--log-target=stderr", "-F", script};
    std::vector<std::string> environment {"XDG_RUNTIME_DIR=" + (root / "runtime").string(),
                                          "HOME=" + (root / "home").string(),
                                          "XDG_CONFIG_HOME=" + (root / "home" / ".config").string(),
                                          std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (spawned != 0) {
        ::close(output[0]);
        whyNot = std::string("cannot run pulseaudio: ") + std::strerror(spawned);
        return nullptr;
    }
    server->pid_ = pid;
    server->output_.read(output[0], "Daemon startup complete.");
    const auto started = server->output_.waitForStart(options.startTimeout);
    if (started != ProcessOutput::Start::ready) {
        const auto log = server->output_.text();
        whyNot = std::string(started == ProcessOutput::Start::closed ? "pulseaudio exited at start-up"
                                                                     : "pulseaudio did not start in time")
                 + "; its log ends with:\n" + log.substr(log.size() - std::min<std::size_t>(log.size(), 2000));
        return nullptr;
    }

    server->fifo_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (server->fifo_ < 0) {
        whyNot = "cannot open the microphone pipe: " + std::string(std::strerror(errno));
        return nullptr;
    }
    return server;
}

PulseAudioTestServer::~PulseAudioTestServer()
{
    kill();
    if (fifo_ >= 0) {
        ::close(fifo_);
    }
}

std::string PulseAudioTestServer::address() const
{
    return "unix:" + (directory_.path() / "native").string();
}

bool PulseAudioTestServer::feed(std::span<const float> samples, std::chrono::milliseconds timeout,
                                const std::atomic<bool>* cancel)
{
    std::vector<std::int16_t> encoded(samples.size());
    std::transform(samples.begin(), samples.end(), encoded.begin(), [](float sample) {
        return static_cast<std::int16_t>(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
    });
    const auto* bytes = reinterpret_cast<const unsigned char*>(encoded.data());
    std::size_t remaining = encoded.size() * sizeof(std::int16_t);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (remaining > 0) {
        if ((cancel && cancel->load()) || std::chrono::steady_clock::now() >= deadline || fifo_ < 0) {
            return false;
        }
        pollfd target {fifo_, POLLOUT, 0};
        if (::poll(&target, 1, 100) <= 0 || (target.revents & (POLLERR | POLLHUP))) {
            continue;
        }
        const auto written = ::write(fifo_, bytes, remaining);
        if (written < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        remaining -= static_cast<std::size_t>(written);
    }
    return true;
}

bool PulseAudioTestServer::control(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout)
{
    const auto program = findProgram("pactl");
    if (program.empty()) {
        return false;
    }
    std::vector<std::string> words {program, "--server=" + address()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::string environmentPath = std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    std::string home = "HOME=" + (directory_.path() / "home").string();
    char* envp[] = {environmentPath.data(), home.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return false;
    }

    // The wait for the program's end is bounded: past the timeout it is killed.
    std::mutex mutex;
    std::condition_variable changed;
    bool exited = false;
    int status = 0;
    std::thread waiter([&] {
        int result = 0;
        ::waitpid(pid, &result, 0);
        std::lock_guard lock(mutex);
        status = result;
        exited = true;
        changed.notify_all();
    });
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, timeout, [&] { return exited; })) {
        ::kill(pid, SIGKILL);
        changed.wait(lock, [&] { return exited; });
        lock.unlock();
        waiter.join();
        return false;
    }
    lock.unlock();
    waiter.join();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void PulseAudioTestServer::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    output_.stop();
}

std::string PulseAudioTestServer::log() const
{
    return output_.text();
}

} // namespace testsupport
