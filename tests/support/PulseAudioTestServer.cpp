#include "support/PulseAudioTestServer.hpp"

#include "support/ChildProcess.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

std::unique_ptr<PulseAudioTestServer> PulseAudioTestServer::start(std::string& whyNot, Options options)
{
    const auto program = ChildProcess::findProgram("pulseaudio");
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

    const std::string script = (root / "server.pa").string();
    server->process_ = ChildProcess::start(
        {program, "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit=yes", "--use-pid-file=no",
         "--realtime=no", "--high-priority=no", "--log-level=info", "--log-target=stderr", "-F", script},
        whyNot,
        {.environment = {{"XDG_RUNTIME_DIR", (root / "runtime").string()},
                         {"HOME", (root / "home").string()},
                         {"XDG_CONFIG_HOME", (root / "home" / ".config").string()}},
         .inheritEnvironment = false,
         .passFd = -1});
    if (!server->process_) {
        return nullptr;
    }
    const auto ready = server->process_->waitForLine(
        [](const std::string& line) { return line.find("Daemon startup complete.") != std::string::npos; },
        options.startTimeout);
    if (!ready) {
        const auto log = server->process_->output();
        whyNot = std::string(server->process_->hasExited() ? "pulseaudio exited at start-up" : "pulseaudio did not start in time")
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
    std::vector<std::string> words {"pactl", "--server=" + address()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::string whyNot;
    auto pactl = ChildProcess::start(words, whyNot,
                                     {.environment = {{"HOME", (directory_.path() / "home").string()}},
                                      .inheritEnvironment = false,
                                      .passFd = -1});
    if (!pactl) {
        return false;
    }
    // The wait for the program's end is bounded: past the timeout it is killed.
    if (!pactl->waitForExit(timeout)) {
        pactl->kill();
        return false;
    }
    return pactl->exitCode() == 0;
}

void PulseAudioTestServer::kill()
{
    if (process_) {
        process_->kill();
    }
}

std::string PulseAudioTestServer::log() const
{
    return process_ ? process_->output() : std::string();
}

} // namespace testsupport
