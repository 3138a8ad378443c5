#pragma once

#include "support/ProcessOutput.hpp"
#include "support/TemporaryDirectory.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A private PostgreSQL 15 server for one test: its data and its unix socket live in a temporary
// folder, with no TCP port, so parallel test runs never meet. As root it runs as the `postgres`
// system user (the server refuses root). The cluster is copied from a template that the first test
// of a build makes with initdb, in "test-cache" beside the test program.
// The server ends with the thread that started it, also when the test program dies.
class PostgresTestServer {
public:
    static constexpr char binaryFolder[] = "/usr/lib/postgresql/15/bin";
    static constexpr char superuser[] = "postgres";

    // False, with the reason, when no server can run here (no server binaries, or root without a
    // postgres user); tests skip then.
    static bool available(std::string& whyNot);

    // Makes the cluster and starts the server; throws std::runtime_error with the server's log when it
    // does not come up.
    static std::unique_ptr<PostgresTestServer> start();

    ~PostgresTestServer();
    PostgresTestServer(const PostgresTestServer&) = delete;
    PostgresTestServer& operator=(const PostgresTestServer&) = delete;

    // A libpq URI for `database` as `user` through the private socket.
    std::string url(const std::string& database = "postgres", const std::string& user = superuser) const;
    const std::filesystem::path& socketFolder() const { return folder_.path(); }

    // Fast shutdown, as `pg_ctl stop` does: open sessions are ended. Returns when the server is gone.
    void stop();
    // Starts the stopped server again on the same data and socket.
    void restart();
    bool running() const { return pid_ > 0; }
    // Stops the server and every session it runs (SIGSTOP), as a hung machine or a dead network path
    // looks to its clients: connections stay open and nothing answers. thaw() lets them go on.
    void freeze();
    void thaw();

    std::string log() const;

private:
    struct RunAs {
        uid_t uid;
        gid_t gid;
        bool switchUser;
    };

    PostgresTestServer() = default;
    void launch();
    void shutDown(int signal);

    TemporaryDirectory folder_;
    RunAs runAs_ {};
    pid_t pid_ = -1;
    std::vector<pid_t> frozen_;
    ProcessOutput output_;
};

} // namespace testsupport
