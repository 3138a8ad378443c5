#pragma once

#include "platform/cloud/Database.hpp"
#include "platform/cloud/Record.hpp"
#include "platform/cloud/RecordZoneChanges.hpp"

#include <pqxx/binarystring>
#include <pqxx/transaction_base>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace platform::cloud::server {

// The store's SQL for zones, records and fields, each step on the caller's transaction. Rows belong
// to the connection's role (current_user), which is the account.
class RecordRows {
public:
    struct Zone {
        std::int64_t id; // the incarnation
        std::int64_t lastChange;
    };
    struct Row {
        std::int64_t id;
        std::string recordName;
        std::string recordType;
        std::int64_t changeSequence;
        std::int64_t assetBytes;
    };
    enum class Lock { none, forUpdate };
    // The large object that holds an asset field's bytes, by key.
    using StagedAsset = std::function<std::int64_t(const std::string& key)>;

    static void ensureAccount(pqxx::transaction_base& transaction);
    // Throws zoneNotFound when the account has no such zone in the container.
    static Zone findZone(pqxx::transaction_base& transaction, const std::string& container,
                         const RecordZone::ID& zoneID, Lock lock = Lock::none);
    static void deleteZone(pqxx::transaction_base& transaction, std::int64_t zoneId);

    // A quick look without a lock, so a full account fails before its upload is sent.
    static bool hasRoomFor(pqxx::transaction_base& transaction, std::int64_t assetBytes);
    // Adds the bytes to the account's use unless that passes its quota; false then.
    static bool chargeQuota(pqxx::transaction_base& transaction, std::int64_t assetBytes);

    // Throws serverRecordChanged when the zone holds the name already.
    static std::int64_t insertRecord(pqxx::transaction_base& transaction, std::int64_t zoneId, const Record& record,
                                     std::int64_t assetBytes);
    static void insertFields(pqxx::transaction_base& transaction, std::int64_t recordId, const Record& record,
                             const StagedAsset& stagedAsset);
    // Gives the record the zone's next change number. The zone row stays locked until the commit, so
    // changes commit in the order of their numbers and a reader's token never passes one still to come.
    static void numberChange(pqxx::transaction_base& transaction, std::int64_t zoneId, std::int64_t recordId);

    static std::vector<Row> namedRecord(pqxx::transaction_base& transaction, std::int64_t zoneId, const std::string& name);
    static std::vector<Row> recordsOfType(pqxx::transaction_base& transaction, std::int64_t zoneId, const std::string& type);
    static std::vector<Row> changedSince(pqxx::transaction_base& transaction, std::int64_t zoneId, std::int64_t after,
                                         std::size_t limit);

    // Where fetched assets go, and what a fetch tells of its progress and of the assets it leaves out.
    struct AssetSink {
        std::filesystem::path cacheFolder;
        std::int64_t maxBytes = 0;
        // Called after each piece of an asset, so a watchdog knows the request is alive.
        std::function<void()> progressed;
        // Nullptr: oversized assets are left out silently.
        std::vector<SkippedAsset>* skipped = nullptr;
    };

    // The records of the rows, in their order, with the desired fields; assets are streamed to the
    // cache folder piece by piece, those over the sink's maxBytes left out. Fields without a
    // readable value are left out too.
    static std::vector<Record> load(pqxx::transaction_base& transaction, const RecordZone::ID& zoneID,
                                    const std::vector<Row>& rows, const Database::DesiredKeys& desiredKeys,
                                    const AssetSink& sink);
};

} // namespace platform::cloud::server
