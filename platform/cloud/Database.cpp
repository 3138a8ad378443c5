#include "platform/cloud/Database.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/server/AssetFiles.hpp"
#include "platform/cloud/server/CloudBackend.hpp"
#include "platform/cloud/server/RecordRows.hpp"
#include "platform/cloud/server/Validation.hpp"

#include <pqxx/binarystring>
#include <pqxx/transaction>

#include <algorithm>
#include <map>

namespace platform::cloud {

namespace {

using server::RecordRows;
using ReadTransaction = pqxx::transaction<pqxx::repeatable_read, pqxx::read_only>;

struct OutgoingAsset {
    std::string key;
    server::OpenedAssetFile file;
};

// Asset files are opened and measured before any connection is taken, so a missing or oversized one
// fails without touching the server.
std::vector<OutgoingAsset> openAssets(const Record& record, std::int64_t maxBytes)
{
    std::vector<OutgoingAsset> assets;
    for (const auto& [key, value] : record.fields()) {
        if (const auto* asset = std::get_if<Asset>(&value)) {
            assets.push_back({key, server::openAssetFile(*asset, maxBytes)});
        }
    }
    return assets;
}

// Sends an asset's bytes into a new large object of the transaction, one statement per piece, and
// returns its oid; the object goes with a rollback.
std::int64_t stageAsset(pqxx::transaction_base& transaction, const OutgoingAsset& asset,
                        const server::CloudBackend::Session& session)
{
    const auto oid = transaction.exec1("SELECT lo_create(0)::bigint")[0].as<std::int64_t>();
    std::int64_t offset = 0;
    server::readAssetPieces(asset.file, [&](const std::string& piece) {
        transaction.exec_params("SELECT lo_put($1::oid, $2, $3)", oid, offset, pqxx::binarystring(piece));
        offset += static_cast<std::int64_t>(piece.size());
        session.progressed();
    });
    return oid;
}

RecordRows::AssetSink assetSink(const server::CloudBackend& backend, const server::CloudBackend::Session& session)
{
    return RecordRows::AssetSink {
        .cacheFolder = backend.configuration().resolvedAssetCacheFolder(),
        .maxBytes = backend.configuration().maxAssetBytes,
        .progressed = [&session] { session.progressed(); },
    };
}

} // namespace

std::int64_t Database::maxAssetBytes() const
{
    return backend_->configuration().maxAssetBytes;
}

Database::Database(std::shared_ptr<server::CloudBackend> backend, std::string containerIdentifier)
    : backend_(std::move(backend))
    , containerIdentifier_(std::move(containerIdentifier))
{
}

RecordZone Database::save(const RecordZone& zone) const
{
    server::validateContainer(containerIdentifier_);
    server::validateZoneID(zone.zoneID());
    backend_->run([&](pqxx::connection& connection) {
        pqxx::work transaction(connection);
        RecordRows::ensureAccount(transaction);
        transaction.exec_params("INSERT INTO parlino_cloud.zones (container, account, zone_name) VALUES ($1, current_user, $2) "
                                "ON CONFLICT DO NOTHING",
                                containerIdentifier_, zone.zoneID().zoneName);
        transaction.commit();
    });
    return zone;
}

Record Database::save(const Record& record) const
{
    server::validateContainer(containerIdentifier_);
    server::validateRecord(record);
    const auto assets = openAssets(record, maxAssetBytes());
    std::int64_t assetBytes = 0;
    for (const auto& asset : assets) {
        assetBytes += asset.file.bytes;
    }
    backend_->runSession([&](server::CloudBackend::Session& session) {
        pqxx::work transaction(session.connection);
        const auto zone = RecordRows::findZone(transaction, containerIdentifier_, record.recordID().zoneID);
        if (!RecordRows::hasRoomFor(transaction, assetBytes)) {
            throw CloudError(CloudError::Code::quotaExceeded);
        }
        const auto recordId = RecordRows::insertRecord(transaction, zone.id, record, assetBytes);
        std::map<std::string, std::int64_t> staged;
        for (const auto& asset : assets) {
            staged[asset.key] = stageAsset(transaction, asset, session);
        }
        RecordRows::insertFields(transaction, recordId, record, [&](const std::string& key) { return staged.at(key); });
        for (const auto& [key, oid] : staged) {
            transaction.exec_params("SELECT lo_unlink($1::oid)", oid);
        }
        // The authoritative check: the quota row stays locked until the commit.
        if (!RecordRows::chargeQuota(transaction, assetBytes)) {
            throw CloudError(CloudError::Code::quotaExceeded);
        }
        RecordRows::numberChange(transaction, zone.id, recordId);
        transaction.commit();
    });
    return record;
}

RecordZone Database::fetch(const RecordZone::ID& zoneID) const
{
    server::validateContainer(containerIdentifier_);
    server::validateZoneID(zoneID);
    backend_->run([&](pqxx::connection& connection) {
        ReadTransaction transaction(connection);
        RecordRows::findZone(transaction, containerIdentifier_, zoneID);
        transaction.commit();
    });
    return RecordZone(zoneID);
}

Record Database::fetch(const Record::ID& recordID) const
{
    server::validateContainer(containerIdentifier_);
    server::validateRecordID(recordID);
    std::vector<Record> found;
    backend_->runSession([&](server::CloudBackend::Session& session) {
        ReadTransaction transaction(session.connection);
        const auto zone = RecordRows::findZone(transaction, containerIdentifier_, recordID.zoneID);
        const auto rows = RecordRows::namedRecord(transaction, zone.id, recordID.recordName);
        if (rows.empty()) {
            throw CloudError(CloudError::Code::unknownItem);
        }
        found = RecordRows::load(transaction, recordID.zoneID, rows, std::nullopt, assetSink(*backend_, session));
        transaction.commit();
    });
    return std::move(found.front());
}

void Database::deleteRecordZone(const RecordZone::ID& zoneID) const
{
    server::validateContainer(containerIdentifier_);
    server::validateZoneID(zoneID);
    backend_->run([&](pqxx::connection& connection) {
        pqxx::work transaction(connection);
        const auto zone = RecordRows::findZone(transaction, containerIdentifier_, zoneID, RecordRows::Lock::forUpdate);
        RecordRows::deleteZone(transaction, zone.id);
        transaction.commit();
    });
}

std::vector<Record> Database::records(const Query& query, const RecordZone::ID& zoneID,
                                      const DesiredKeys& desiredKeys) const
{
    server::validateContainer(containerIdentifier_);
    server::validateZoneID(zoneID);
    std::vector<Record> found;
    backend_->runSession([&](server::CloudBackend::Session& session) {
        ReadTransaction transaction(session.connection);
        const auto zone = RecordRows::findZone(transaction, containerIdentifier_, zoneID);
        const auto rows = RecordRows::recordsOfType(transaction, zone.id, query.recordType);
        found = RecordRows::load(transaction, zoneID, rows, desiredKeys, assetSink(*backend_, session));
        transaction.commit();
    });
    return found;
}

RecordZoneChanges Database::recordZoneChanges(const RecordZone::ID& zoneID, const std::optional<ServerChangeToken>& since,
                                              const DesiredKeys& desiredKeys, std::size_t resultsLimit) const
{
    server::validateContainer(containerIdentifier_);
    server::validateZoneID(zoneID);
    const auto& configuration = backend_->configuration();
    auto limit = std::max<std::size_t>(configuration.changesBatchSize, 1);
    if (resultsLimit > 0) {
        limit = std::min(limit, resultsLimit);
    }
    std::optional<RecordZoneChanges> changes;
    backend_->runSession([&](server::CloudBackend::Session& session) {
        // One snapshot for the zone's state and its records, so the token matches what was read.
        ReadTransaction transaction(session.connection);
        const auto zone = RecordRows::findZone(transaction, containerIdentifier_, zoneID);
        std::int64_t after = 0;
        if (since) {
            if (since->zoneIncarnation() != zone.id || since->changeSequence() > zone.lastChange) {
                throw CloudError(CloudError::Code::changeTokenExpired);
            }
            after = since->changeSequence();
        }
        auto rows = RecordRows::changedSince(transaction, zone.id, after, limit + 1);
        std::size_t taken = 0;
        std::int64_t bytes = 0;
        while (taken < rows.size() && taken < limit
               && (taken == 0 || bytes + rows[taken].assetBytes <= configuration.batchAssetBytes)) {
            bytes += rows[taken].assetBytes;
            ++taken;
        }
        const bool moreComing = taken < rows.size();
        rows.resize(taken);
        const auto last = moreComing ? rows.back().changeSequence : zone.lastChange;
        std::vector<SkippedAsset> skipped;
        auto sink = assetSink(*backend_, session);
        sink.skipped = &skipped;
        auto records = RecordRows::load(transaction, zoneID, rows, desiredKeys, sink);
        changes = RecordZoneChanges {
            std::move(records),
            std::move(skipped),
            ServerChangeToken(zone.id, last),
            moreComing,
        };
        transaction.commit();
    });
    return std::move(*changes);
}

} // namespace platform::cloud
