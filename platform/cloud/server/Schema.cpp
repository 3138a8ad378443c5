#include "platform/cloud/server/Schema.hpp"

#include "platform/cloud/CloudError.hpp"

#include <pqxx/nontransaction>
#include <pqxx/transaction>

#include <array>
#include <optional>

namespace platform::cloud::server {

namespace {

// "parlino_cloud" as an advisory-lock key; advisory locks are per database.
constexpr long long schemaLockKey = 0x7061726c696e6f31LL;

struct Migration {
    int version;
    const char* statements;
};

constexpr std::array migrations {
    Migration {1, R"sql(
CREATE TABLE parlino_cloud.accounts (
    account text PRIMARY KEY,
    quota_bytes bigint CHECK (quota_bytes >= 0),
    used_bytes bigint NOT NULL DEFAULT 0
);
CREATE SEQUENCE parlino_cloud.zone_incarnations;
CREATE TABLE parlino_cloud.zones (
    id bigint PRIMARY KEY DEFAULT nextval('parlino_cloud.zone_incarnations'),
    container text NOT NULL,
    account text NOT NULL,
    zone_name text NOT NULL,
    last_change bigint NOT NULL DEFAULT 0,
    UNIQUE (container, account, zone_name)
);
CREATE TABLE parlino_cloud.records (
    id bigserial PRIMARY KEY,
    zone_id bigint NOT NULL REFERENCES parlino_cloud.zones (id) ON DELETE CASCADE,
    record_name text NOT NULL,
    record_type text NOT NULL,
    change_sequence bigint NOT NULL DEFAULT 0,
    asset_bytes bigint NOT NULL DEFAULT 0,
    UNIQUE (zone_id, record_name)
);
CREATE INDEX records_by_change ON parlino_cloud.records (zone_id, change_sequence);
CREATE TABLE parlino_cloud.fields (
    record_id bigint NOT NULL REFERENCES parlino_cloud.records (id) ON DELETE CASCADE,
    name text NOT NULL,
    kind "char" NOT NULL CHECK (kind IN ('s', 'd', 't', 'a')),
    string_value text,
    double_value double precision,
    date_value bigint,
    asset_data bytea,
    PRIMARY KEY (record_id, name)
);
-- Audio does not compress; storing it out of line unzipped saves the server's time.
ALTER TABLE parlino_cloud.fields ALTER COLUMN asset_data SET STORAGE EXTERNAL;
)sql"},
};
static_assert(migrations.back().version == Schema::currentVersion);

std::optional<int> installedVersion(pqxx::transaction_base& transaction)
{
    const auto table = transaction.exec("SELECT to_regclass('parlino_cloud.schema_version') IS NOT NULL");
    if (!table[0][0].as<bool>()) {
        return std::nullopt;
    }
    const auto version = transaction.exec("SELECT max(version) FROM parlino_cloud.schema_version");
    return version[0][0].is_null() ? std::nullopt : std::optional<int>(version[0][0].as<int>());
}

void checkNotNewer(std::optional<int> version)
{
    if (version && *version > Schema::currentVersion) {
        throw CloudError(CloudError::Code::incompatibleVersion);
    }
}

} // namespace

void Schema::prepare(pqxx::connection& connection)
{
    {
        pqxx::read_transaction look(connection);
        const auto version = installedVersion(look);
        checkNotNewer(version);
        if (version == currentVersion) {
            return;
        }
    }
    // A session lock taken before the transaction begins: the transaction then starts after any
    // other client's creation has committed and sees its tables (a lock taken inside it would leave
    // the server's cached "no such table" answers of the first look in place).
    const auto lock = std::to_string(schemaLockKey);
    pqxx::nontransaction(connection).exec("SELECT pg_advisory_lock(" + lock + ")");
    try {
        pqxx::work transaction(connection);
        const auto version = installedVersion(transaction);
        checkNotNewer(version);
        if (!version) {
            transaction.exec("CREATE SCHEMA IF NOT EXISTS parlino_cloud");
            transaction.exec("CREATE TABLE IF NOT EXISTS parlino_cloud.schema_version (version integer NOT NULL)");
        }
        for (const auto& migration : migrations) {
            if (migration.version > version.value_or(0)) {
                transaction.exec(migration.statements);
                transaction.exec("INSERT INTO parlino_cloud.schema_version (version) VALUES ("
                                 + std::to_string(migration.version) + ")");
            }
        }
        transaction.commit();
    } catch (...) {
        try {
            pqxx::nontransaction(connection).exec("SELECT pg_advisory_unlock(" + lock + ")");
        } catch (const pqxx::failure&) {
            // A lost session holds no lock.
        }
        throw;
    }
    pqxx::nontransaction(connection).exec("SELECT pg_advisory_unlock(" + lock + ")");
}

} // namespace platform::cloud::server
