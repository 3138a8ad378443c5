#include "support/SwayTestServer.hpp"

#include <filesystem>
#include <optional>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr char runAsUser[] = "nobody";
constexpr char readyLine[] = "sway-ready ";

struct Account {
    uid_t uid;
    gid_t gid;
};

std::optional<Account> account()
{
    const passwd* found = ::getpwnam(runAsUser);
    if (!found) {
        return std::nullopt;
    }
    return Account {found->pw_uid, found->pw_gid};
}

} // namespace

bool SwayTestServer::available(std::string& whyNot)
{
    if (ChildProcess::findProgram("sway").empty()) {
        whyNot = "sway is not installed";
        return false;
    }
    if (::geteuid() == 0 && (!account() || ChildProcess::findProgram("setpriv").empty())) {
        whyNot = "running as root with no nobody user (or no setpriv) to run sway as";
        return false;
    }
    return true;
}

std::unique_ptr<SwayTestServer> SwayTestServer::start(Options options)
{
    std::string whyNot;
    if (!available(whyNot)) {
        throw std::runtime_error(whyNot);
    }
    std::unique_ptr<SwayTestServer> server(new SwayTestServer());
    const auto& root = server->directory_.path();
    const auto runtime = root / "sway-runtime";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    fs::create_directory(root / "client-runtime");
    fs::permissions(root / "client-runtime", fs::perms::owner_all);
    // The exec'd line runs once the outputs are up, and names the socket.
    writeFile(root / "config", "xwayland disable\n"
                               "output * resolution 1024x768\n"
                               "default_border none\n"
                               "exec echo \"sway-ready $WAYLAND_DISPLAY\"\n");

    std::vector<std::string> command {ChildProcess::findProgram("sway"), "-c", (root / "config").string()};
    if (::geteuid() == 0) {
        const auto user = *account();
        // The compositor's user passes through the test's folder into its own runtime folder.
        fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        if (::chown(runtime.c_str(), user.uid, user.gid) != 0) {
            throw std::runtime_error("cannot hand " + runtime.string() + " to the " + runAsUser + " user");
        }
        command.insert(command.begin(), {ChildProcess::findProgram("setpriv"), "--reuid=" + std::to_string(user.uid),
                                         "--regid=" + std::to_string(user.gid), "--clear-groups", "--pdeathsig=TERM"});
    }
    ChildProcess::Options launch;
    launch.inheritEnvironment = false;
    launch.environment = {{"HOME", root.string()},
                          {"XDG_RUNTIME_DIR", runtime.string()},
                          {"WLR_BACKENDS", "headless"},
                          {"WLR_RENDERER", "pixman"},
                          {"WLR_LIBINPUT_NO_DEVICES", "1"},
                          {"LANG", "C.UTF-8"}};
    server->sway_ = ChildProcess::start(command, whyNot, launch);
    if (!server->sway_) {
        throw std::runtime_error("cannot run sway: " + whyNot);
    }
    const auto ready = server->sway_->waitForLine([](const std::string& line) { return line.starts_with(readyLine); },
                                                  options.startTimeout);
    if (!ready || ready->size() <= std::string_view(readyLine).size()) {
        throw std::runtime_error("sway did not come up:\n" + server->sway_->output());
    }
    server->displayName_ = (runtime / ready->substr(std::string_view(readyLine).size())).string();
    return server;
}

SwayTestServer::~SwayTestServer() = default;

std::vector<std::pair<std::string, std::string>> SwayTestServer::clientEnvironment() const
{
    return {{"WAYLAND_DISPLAY", displayName_},
            {"XDG_RUNTIME_DIR", (directory_.path() / "client-runtime").string()},
            {"QT_QPA_PLATFORM", "wayland"}};
}

std::string SwayTestServer::log() const
{
    return sway_ ? sway_->output() : std::string();
}

} // namespace testsupport
