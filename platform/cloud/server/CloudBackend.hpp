#pragma once

#include "platform/cloud/CloudConfiguration.hpp"
#include "platform/cloud/server/ConnectionSettings.hpp"
#include "platform/cloud/server/RequestWatchdog.hpp"

#include <pqxx/connection>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::cloud::server {

// The connections of one container to its server: a small pool, the store's schema made ready once,
// and every failure turned into a CloudError. Safe to use from several threads; each piece of work
// has a connection of its own while it runs.
class CloudBackend {
public:
    enum class SchemaUse { ensure, skip };

    // One piece of work's hold on the server: its connection, and a way to tell the watchdog that a
    // long request (an asset streamed piece by piece) is still moving.
    struct Session {
        pqxx::connection& connection;
        RequestWatchdog::Watch& watch;

        void progressed() const { watch.progressed(); }
    };

    explicit CloudBackend(CloudConfiguration configuration);
    ~CloudBackend();
    CloudBackend(const CloudBackend&) = delete;
    CloudBackend& operator=(const CloudBackend&) = delete;

    const CloudConfiguration& configuration() const { return configuration_; }
    bool hasAccount() const { return settings_.has_value(); }

    // Runs `work`, which opens and commits its own transaction. Without an account: notAuthenticated.
    // Work that failed because a pooled connection had died, or on a serialization conflict, runs
    // again; nothing else does.
    // Work that runs into a time limit fails with serviceUnavailable and is not tried again.
    void run(const std::function<void(pqxx::connection&)>& work, SchemaUse schemaUse = SchemaUse::ensure);
    void runSession(const std::function<void(Session&)>& work, SchemaUse schemaUse = SchemaUse::ensure);

private:
    std::unique_ptr<pqxx::connection> take(bool& reused);
    void giveBack(std::unique_ptr<pqxx::connection> connection);
    void ensureSchema(pqxx::connection& connection);

    CloudConfiguration configuration_;
    std::optional<ConnectionSettings> settings_;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<pqxx::connection>> idle_;
    std::mutex schemaMutex_;
    std::atomic<bool> schemaReady_ {false};
    RequestWatchdog watchdog_;
};

} // namespace platform::cloud::server
