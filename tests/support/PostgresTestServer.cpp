#include "support/PostgresTestServer.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// libpqxx 6.4 drops libpq's result of a statement that fails on a lost connection without freeing it
// (a few KB per lost connection); only libpq's own allocations are passed over.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libpq.so\n";
}

namespace testsupport {

namespace fs = std::filesystem;

namespace {

constexpr char port[] = "5432";
constexpr char readyLine[] = "database system is ready to accept connections";
constexpr std::chrono::seconds startTimeout {60};
constexpr std::chrono::seconds stopTimeout {30};
// Bump when the initdb options change, so an old template is not reused.
constexpr char templateName[] = "postgres-15-template-v2";

fs::path program(const char* name)
{
    return fs::path(PostgresTestServer::binaryFolder) / name;
}

std::string tail(const std::string& text, std::size_t count = 3000)
{
    return text.substr(text.size() - std::min(text.size(), count));
}

std::string percentEncoded(const std::string& text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

struct Account {
    uid_t uid;
    gid_t gid;
};

std::optional<Account> postgresAccount()
{
    passwd entry {};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwnam_r("postgres", &entry, buffer, sizeof buffer, &found) != 0 || !found) {
        return std::nullopt;
    }
    return Account {found->pw_uid, found->pw_gid};
}

void chownTree(const fs::path& root, uid_t uid, gid_t gid)
{
    if (::lchown(root.c_str(), uid, gid) != 0) {
        throw std::runtime_error("cannot hand " + root.string() + " to the postgres user: " + std::strerror(errno));
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (::lchown(entry.path().c_str(), uid, gid) != 0) {
            throw std::runtime_error("cannot hand " + entry.path().string() + " to the postgres user");
        }
    }
}

// Everything the child needs is made before fork: after it, only async-signal-safe calls.
struct ChildProcess {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    fs::path workingFolder;
    bool switchUser = false;
    uid_t uid = 0;
    gid_t gid = 0;
    int output = -1;       // the child's stdout and stderr
    bool endWithParent = false;

    pid_t spawn() const
    {
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& entry : environment) {
            envp.push_back(const_cast<char*>(entry.c_str()));
        }
        envp.push_back(nullptr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid != 0) {
            return pid;
        }
        const int input = ::open("/dev/null", O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(output, 2) < 0) {
            ::_exit(126);
        }
        if (switchUser && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(126);
        }
        // SIGQUIT is the server's immediate shutdown, which also ends its sessions.
        if (endWithParent && (::prctl(PR_SET_PDEATHSIG, SIGQUIT) != 0 || ::getppid() != parent)) {
            ::_exit(126);
        }
        if (::chdir(workingFolder.c_str()) != 0) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
};

std::vector<std::string> childEnvironment(const fs::path& home)
{
    return {"PATH=/usr/bin:/bin", "LANG=C", "LC_ALL=C", "TZ=UTC", "HOME=" + home.string()};
}

// Runs initdb into `data` (which must not exist) as `account`; throws with its output on failure.
void initdb(const fs::path& data, const fs::path& workingFolder, bool switchUser, uid_t uid, gid_t gid)
{
    const auto logPath = workingFolder / "initdb.log";
    const int output = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0) {
        throw std::runtime_error("cannot write " + logPath.string());
    }
    ChildProcess child;
    child.arguments = {program("initdb").string(), "-D", data.string(), "-U", PostgresTestServer::superuser,
                       "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync", "--no-instructions",
                       // Small WAL segments make the cluster a third of its size, and quick to copy.
                       "--wal-segsize=1"};
    child.environment = childEnvironment(workingFolder);
    child.workingFolder = workingFolder;
    child.switchUser = switchUser;
    child.uid = uid;
    child.gid = gid;
    child.output = output;
    const pid_t pid = child.spawn();
    ::close(output);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("initdb failed:\n" + tail(readFile(logPath)));
    }
}

} // namespace

bool PostgresTestServer::available(std::string& whyNot)
{
    for (const char* name : {"initdb", "postgres"}) {
        if (::access(program(name).c_str(), X_OK) != 0) {
            whyNot = "PostgreSQL 15 is not installed (no " + program(name).string() + "); scripts/setup installs postgresql-15";
            return false;
        }
    }
    if (::geteuid() == 0 && !postgresAccount()) {
        whyNot = "running as root and there is no postgres system user to run the server as";
        return false;
    }
    return true;
}

std::unique_ptr<PostgresTestServer> PostgresTestServer::start()
{
    std::string whyNot;
    if (!available(whyNot)) {
        throw std::runtime_error(whyNot);
    }
    std::unique_ptr<PostgresTestServer> server(new PostgresTestServer());
    const auto& root = server->folder_.path();
    if ((root / ".s.PGSQL.5432").string().size() >= sizeof(sockaddr_un {}.sun_path)) {
        throw std::runtime_error("the temporary folder's path is too long for a socket");
    }
    auto& runAs = server->runAs_;
    runAs = {::geteuid(), ::getegid(), false};
    if (::geteuid() == 0) {
        const auto account = *postgresAccount();
        runAs = {account.uid, account.gid, true};
        chownTree(root, runAs.uid, runAs.gid);
    }

    const auto data = root / "data";
    std::error_code unreadable;
    const auto executable = fs::read_symlink("/proc/self/exe", unreadable);
    if (!unreadable && executable.has_parent_path()) {
        const auto cache = executable.parent_path() / "test-cache";
        const auto templateFolder = cache / templateName;
        if (!fs::exists(templateFolder / "PG_VERSION")) {
            // initdb writes where the server's user may write; the finished cluster is copied into the
            // cache beside it and renamed into place, so parallel tests may each make one and the
            // first rename wins.
            initdb(data, root, runAs.switchUser, runAs.uid, runAs.gid);
            fs::create_directories(cache);
            std::string staging = (cache / "postgres-staging-XXXXXX").string();
            if (!::mkdtemp(staging.data())) {
                throw std::runtime_error("cannot create a folder in " + cache.string());
            }
            fs::copy(data, fs::path(staging) / "data", fs::copy_options::recursive);
            std::error_code raced;
            fs::rename(fs::path(staging) / "data", templateFolder, raced);
            fs::remove_all(staging);
        } else {
            fs::copy(templateFolder, data, fs::copy_options::recursive);
            fs::permissions(data, fs::perms::owner_all);
            if (runAs.switchUser) {
                chownTree(data, runAs.uid, runAs.gid);
            }
        }
    } else {
        initdb(data, root, runAs.switchUser, runAs.uid, runAs.gid);
    }
    server->launch();
    return server;
}

PostgresTestServer::~PostgresTestServer()
{
    // Nothing of the cluster is kept, so the immediate shutdown (no checkpoint) does.
    shutDown(SIGQUIT);
}

void PostgresTestServer::launch()
{
    const auto& root = folder_.path();
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    ChildProcess child;
    child.arguments = {program("postgres").string(), "-D", (root / "data").string(), "-k", root.string(), "-p", port,
                       "-c", "listen_addresses=", "-c", "unix_socket_permissions=0700",
                       // Durability is not under test; these make every commit cheap.
                       "-c", "fsync=off", "-c", "synchronous_commit=off", "-c", "full_page_writes=off",
                       "-c", "shared_buffers=16MB", "-c", "max_connections=40", "-c", "log_min_messages=warning",
                       "-c", "log_destination=stderr", "-c", "logging_collector=off"};
    child.environment = childEnvironment(root);
    child.workingFolder = root;
    child.switchUser = runAs_.switchUser;
    child.uid = runAs_.uid;
    child.gid = runAs_.gid;
    child.output = output[1];
    child.endWithParent = true;
    const pid_t pid = child.spawn();
    ::close(output[1]);
    if (pid < 0) {
        ::close(output[0]);
        throw std::runtime_error(std::string("cannot start postgres: ") + std::strerror(errno));
    }
    pid_ = pid;
    output_.read(output[0], readyLine);
    const auto started = output_.waitForStart(startTimeout);
    if (started != ProcessOutput::Start::ready) {
        shutDown(SIGQUIT);
        throw std::runtime_error(std::string(started == ProcessOutput::Start::closed ? "postgres exited at start-up"
                                                                                     : "postgres did not start in time")
                                 + "; its log ends with:\n" + tail(output_.text()));
    }
}

namespace {

// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const std::string stat = readFile(entry.path() / "stat");
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) {
            children.push_back(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return children;
}

} // namespace

void PostgresTestServer::freeze()
{
    if (pid_ <= 0 || !frozen_.empty()) {
        return;
    }
    // The postmaster first, so it starts no new process while its children are stopped.
    ::kill(pid_, SIGSTOP);
    frozen_.push_back(pid_);
    for (const pid_t child : childrenOf(pid_)) {
        ::kill(child, SIGSTOP);
        frozen_.push_back(child);
    }
}

void PostgresTestServer::thaw()
{
    for (auto pid = frozen_.rbegin(); pid != frozen_.rend(); ++pid) {
        ::kill(*pid, SIGCONT);
    }
    frozen_.clear();
}

void PostgresTestServer::stop()
{
    shutDown(SIGINT);
}

void PostgresTestServer::shutDown(int signal)
{
    thaw();
    if (pid_ > 0) {
        ::kill(pid_, signal);
        // The output closes once the server and every session it ran are gone.
        if (!output_.waitForClose(stopTimeout)) {
            ::kill(pid_, SIGQUIT);
            if (!output_.waitForClose(stopTimeout)) {
                ::kill(pid_, SIGKILL);
            }
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    output_.stop();
}

void PostgresTestServer::restart()
{
    if (pid_ <= 0) {
        launch();
    }
}

std::string PostgresTestServer::url(const std::string& database, const std::string& user) const
{
    return "postgresql:///" + percentEncoded(database) + "?host=" + percentEncoded(folder_.path().string())
           + "&port=" + port + "&user=" + percentEncoded(user);
}

std::string PostgresTestServer::log() const
{
    return output_.text();
}

} // namespace testsupport
