#pragma once

#include "platform/cloud/Query.hpp"
#include "platform/cloud/Record.hpp"
#include "platform/cloud/RecordZone.hpp"
#include "platform/cloud/RecordZoneChanges.hpp"
#include "platform/cloud/ServerChangeToken.hpp"


#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::cloud {

namespace server {
class CloudBackend;
}

// The private database of a container for the connection's account (a handle; copies share the
// connections). Every call is synchronous and blocks on the server, so call it off the UI thread;
// calls from several threads at once are safe. Every failure throws CloudError:
//   no account configured                  -> notAuthenticated (9)
//   the zone does not exist                -> zoneNotFound (26), for every call that names one
//   save(record) of a name already present -> serverRecordChanged (14); records are never overwritten
//   fetch(record ID) of a missing record   -> unknownItem (11)
//   asset bytes past the account's quota   -> quotaExceeded (25); the record is not saved
//   asset file missing / too large         -> assetFileNotFound (16) / limitExceeded (27)
//                                             (over the configuration's maxAssetBytes)
//   a token of another zone incarnation    -> changeTokenExpired (21)
//   names or values the store cannot hold  -> invalidArguments (12) (see Record)
//   transport and other server failures    -> as listed in CloudError.hpp
class Database {
public:
    // The largest asset this database sends and fetches.
    std::int64_t maxAssetBytes() const;
    // Nullopt asks for every field; a list only for those keys (an empty list: names and types only).
    using DesiredKeys = std::optional<std::vector<std::string>>;

    // Creates the zone, or keeps the existing one as it is (with its records and change history).
    RecordZone save(const RecordZone& zone) const;
    // Stores a new record with its assets and returns it. Asset files are streamed to the server
    // piece by piece, each piece its own statement, so none is held whole in memory.
    Record save(const Record& record) const;

    RecordZone fetch(const RecordZone::ID& zoneID) const;
    Record fetch(const Record::ID& recordID) const;

    // Removes the zone and every record in it; its asset bytes no longer count against the quota.
    void deleteRecordZone(const RecordZone::ID& zoneID) const;

    // Every record of the query's type in the zone, oldest save first.
    std::vector<Record> records(const Query& query, const RecordZone::ID& zoneID,
                                const DesiredKeys& desiredKeys = std::nullopt) const;

    // The records saved since `since` (from the zone's beginning without one), at most the
    // configuration's batch size (or `resultsLimit` when smaller and not 0) and, past the first, no
    // more asset bytes than its batch budget.
    RecordZoneChanges recordZoneChanges(const RecordZone::ID& zoneID, const std::optional<ServerChangeToken>& since,
                                        const DesiredKeys& desiredKeys = std::nullopt,
                                        std::size_t resultsLimit = 0) const;

private:
    friend class Container;
    Database(std::shared_ptr<server::CloudBackend> backend, std::string containerIdentifier);

    std::shared_ptr<server::CloudBackend> backend_;
    std::string containerIdentifier_;
};

} // namespace platform::cloud
