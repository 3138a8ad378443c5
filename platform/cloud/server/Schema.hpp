#pragma once

#include <pqxx/connection>

namespace platform::cloud::server {

// The store's tables, in the server schema "parlino_cloud", versioned in its table "schema_version".
// The first client to find them missing or older creates or upgrades them under an advisory lock, so
// clients that start together never race; a store newer than this client throws incompatibleVersion.
//
// Version 1:
//   accounts(account, quota_bytes, used_bytes)   one row per role; used_bytes counts asset bytes
//   zones(id, container, account, zone_name, last_change)
//                                                 id is the zone's incarnation, new for every creation;
//                                                 last_change numbers the zone's saves
//   records(id, zone_id, record_name, record_type, change_sequence, asset_bytes)
//   fields(record_id, name, kind, string_value, double_value, date_value, asset_data)
//                                                 kind 's' string, 'd' double, 't' date (ns since 1970), 'a' asset
class Schema {
public:
    static constexpr int currentVersion = 1;

    static void prepare(pqxx::connection& connection);
};

} // namespace platform::cloud::server
