#include "platform/cloud/server/CloudBackend.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/server/Schema.hpp"
#include "platform/cloud/server/ServerErrors.hpp"

#include <pqxx/except>

namespace platform::cloud::server {

namespace {

constexpr std::size_t maxIdleConnections = 8;
// Serialization conflicts and deadlocks are retried this often before the caller hears zoneBusy.
constexpr int maxConflictRetries = 3;

} // namespace

CloudBackend::CloudBackend(CloudConfiguration configuration)
    : configuration_(std::move(configuration))
    , watchdog_(configuration_.requestTimeout)
{
    if (configuration_.url) {
        settings_ = ConnectionSettings::parse(*configuration_.url, configuration_.connectTimeout,
                                              configuration_.statementTimeout);
    }
}

CloudBackend::~CloudBackend() = default;

std::unique_ptr<pqxx::connection> CloudBackend::take(bool& reused)
{
    {
        std::lock_guard lock(poolMutex_);
        while (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            if (connection->is_open()) {
                reused = true;
                return connection;
            }
        }
    }
    reused = false;
    try {
        auto connection = std::make_unique<pqxx::connection>(settings_->connectionString);
        // A connection that drops must fail the work on it, never reconnect behind its back.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        connection->inhibit_reactivation(true);
#pragma GCC diagnostic pop
        return connection;
    } catch (const pqxx::broken_connection&) {
        throw CloudError(CloudError::Code::networkUnavailable);
    } catch (const pqxx::sql_error& error) {
        throw errorForSqlState(sqlStateOf(error));
    } catch (const pqxx::failure&) {
        throw CloudError(CloudError::Code::networkUnavailable);
    }
}

void CloudBackend::giveBack(std::unique_ptr<pqxx::connection> connection)
{
    if (!connection || !connection->is_open()) {
        return;
    }
    std::lock_guard lock(poolMutex_);
    if (idle_.size() < maxIdleConnections) {
        idle_.push_back(std::move(connection));
    }
}

void CloudBackend::ensureSchema(pqxx::connection& connection)
{
    if (schemaReady_.load()) {
        return;
    }
    std::lock_guard lock(schemaMutex_);
    if (!schemaReady_.load()) {
        Schema::prepare(connection);
        schemaReady_.store(true);
    }
}

void CloudBackend::run(const std::function<void(pqxx::connection&)>& work, SchemaUse schemaUse)
{
    runSession([&](Session& session) { work(session.connection); }, schemaUse);
}

void CloudBackend::runSession(const std::function<void(Session&)>& work, SchemaUse schemaUse)
{
    if (!settings_) {
        throw CloudError(CloudError::Code::notAuthenticated);
    }
    bool retriedDeadConnection = false;
    int conflicts = 0;
    for (;;) {
        bool reused = false;
        auto connection = take(reused);
        // Work whose connection dropped before its commit left nothing on the server, so a pooled
        // connection that the server closed while it sat idle costs one more try on a fresh one.
        const auto lostConnection = [&](const std::string& sqlState) {
            connection.reset();
            if (reused && !retriedDeadConnection) {
                retriedDeadConnection = true;
                return;
            }
            throw CloudError(CloudError::Code::networkFailure, sqlState);
        };
        bool expired = false;
        try {
            {
                RequestWatchdog::Watch watch(watchdog_, connection->sock(), expired);
                Session session {*connection, watch};
                if (schemaUse == SchemaUse::ensure) {
                    ensureSchema(*connection);
                }
                work(session);
            }
            if (expired) {
                // It finished as the watchdog ended it: the connection is no longer of use.
                connection.reset();
                return;
            }
            giveBack(std::move(connection));
            return;
        } catch (...) {
            if (expired) {
                // A server that stopped answering: trying again would only wait as long once more.
                connection.reset();
                throw CloudError(CloudError::Code::serviceUnavailable, "57014");
            }
            try {
                throw;
            } catch (const CloudError&) {
                giveBack(std::move(connection));
                throw;
            } catch (const pqxx::in_doubt_error&) {
                throw CloudError(CloudError::Code::networkFailure);
            } catch (const pqxx::statement_completion_unknown&) {
                throw CloudError(CloudError::Code::networkFailure, "40003");
            } catch (const pqxx::transaction_rollback&) {
                giveBack(std::move(connection));
                if (++conflicts > maxConflictRetries) {
                    throw CloudError(CloudError::Code::zoneBusy, "40001");
                }
            } catch (const pqxx::broken_connection&) {
                lostConnection({});
            } catch (const pqxx::sql_error& error) {
                const auto sqlState = sqlStateOf(error);
                if (isConnectionLoss(sqlState) || !connection->is_open()) {
                    lostConnection(sqlState);
                } else if (isSerializationConflict(sqlState) && ++conflicts <= maxConflictRetries) {
                    giveBack(std::move(connection));
                } else {
                    if (sqlState == "42P01" || sqlState == "3F000") {
                        // Someone dropped the store's tables: make them again next time.
                        schemaReady_.store(false);
                    }
                    giveBack(std::move(connection));
                    throw errorForSqlState(sqlState);
                }
            } catch (const pqxx::failure&) {
                throw CloudError(CloudError::Code::internalError);
            } catch (const std::logic_error&) {
                // libpqxx's usage and conversion errors: an answer this client did not expect.
                throw CloudError(CloudError::Code::internalError);
            }
        }
    }
}

} // namespace platform::cloud::server
