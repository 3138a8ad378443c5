#include "platform/cloud/server/RecordRows.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/server/AssetFiles.hpp"
#include "platform/cloud/server/FieldText.hpp"

#include <pqxx/result>

#include <algorithm>
#include <chrono>
#include <map>

namespace platform::cloud::server {

namespace {

constexpr char rowColumns[] = "SELECT id, record_name, record_type, change_sequence, asset_bytes FROM parlino_cloud.records ";

std::vector<RecordRows::Row> rowsOf(const pqxx::result& result)
{
    std::vector<RecordRows::Row> rows;
    rows.reserve(result.size());
    for (const auto& row : result) {
        rows.push_back({row[0].as<std::int64_t>(), row[1].as<std::string>(), row[2].as<std::string>(),
                        row[3].as<std::int64_t>(), row[4].as<std::int64_t>()});
    }
    return rows;
}

bool isDesired(const Database::DesiredKeys& desiredKeys, const std::string& key)
{
    return !desiredKeys || std::find(desiredKeys->begin(), desiredKeys->end(), key) != desiredKeys->end();
}

} // namespace

void RecordRows::ensureAccount(pqxx::transaction_base& transaction)
{
    transaction.exec("INSERT INTO parlino_cloud.accounts (account) VALUES (current_user) ON CONFLICT DO NOTHING");
}

RecordRows::Zone RecordRows::findZone(pqxx::transaction_base& transaction, const std::string& container,
                                      const RecordZone::ID& zoneID, Lock lock)
{
    const auto result = transaction.exec_params(
        std::string("SELECT id, last_change FROM parlino_cloud.zones WHERE container = $1 AND account = current_user "
                    "AND zone_name = $2")
            + (lock == Lock::forUpdate ? " FOR UPDATE" : ""),
        container, zoneID.zoneName);
    if (result.empty()) {
        throw CloudError(CloudError::Code::zoneNotFound);
    }
    return {result[0][0].as<std::int64_t>(), result[0][1].as<std::int64_t>()};
}

void RecordRows::deleteZone(pqxx::transaction_base& transaction, std::int64_t zoneId)
{
    const auto bytes = transaction.exec_params1(
        "SELECT coalesce(sum(asset_bytes), 0) FROM parlino_cloud.records WHERE zone_id = $1", zoneId)[0].as<std::int64_t>();
    transaction.exec_params("DELETE FROM parlino_cloud.zones WHERE id = $1", zoneId);
    if (bytes > 0) {
        transaction.exec_params("UPDATE parlino_cloud.accounts SET used_bytes = greatest(used_bytes - $1, 0) "
                                "WHERE account = current_user",
                                bytes);
    }
}

bool RecordRows::hasRoomFor(pqxx::transaction_base& transaction, std::int64_t assetBytes)
{
    if (assetBytes == 0) {
        return true;
    }
    const auto result = transaction.exec_params(
        "SELECT quota_bytes IS NULL OR used_bytes + $1 <= quota_bytes FROM parlino_cloud.accounts WHERE account = current_user",
        assetBytes);
    return result.empty() || result[0][0].as<bool>();
}

bool RecordRows::chargeQuota(pqxx::transaction_base& transaction, std::int64_t assetBytes)
{
    if (assetBytes == 0) {
        return true;
    }
    const auto result = transaction.exec_params(
        "INSERT INTO parlino_cloud.accounts AS a (account, used_bytes) VALUES (current_user, $1) "
        "ON CONFLICT (account) DO UPDATE SET used_bytes = a.used_bytes + EXCLUDED.used_bytes "
        "WHERE a.quota_bytes IS NULL OR a.used_bytes + EXCLUDED.used_bytes <= a.quota_bytes RETURNING 1",
        assetBytes);
    return !result.empty();
}

std::int64_t RecordRows::insertRecord(pqxx::transaction_base& transaction, std::int64_t zoneId, const Record& record,
                                      std::int64_t assetBytes)
{
    const auto result = transaction.exec_params(
        "INSERT INTO parlino_cloud.records (zone_id, record_name, record_type, asset_bytes) VALUES ($1, $2, $3, $4) "
        "ON CONFLICT (zone_id, record_name) DO NOTHING RETURNING id",
        zoneId, record.recordID().recordName, record.recordType(), assetBytes);
    if (result.empty()) {
        throw CloudError(CloudError::Code::serverRecordChanged);
    }
    return result[0][0].as<std::int64_t>();
}

void RecordRows::insertFields(pqxx::transaction_base& transaction, std::int64_t recordId, const Record& record,
                              const StagedAsset& stagedAsset)
{
    static const std::string insert
        = "INSERT INTO parlino_cloud.fields (record_id, name, kind, string_value, double_value, date_value, asset_data) "
          "VALUES ($1, $2, $3, $4, $5::double precision, $6, $7)";
    for (const auto& [key, value] : record.fields()) {
        if (const auto* text = std::get_if<std::string>(&value)) {
            transaction.exec_params(insert, recordId, key, "s", *text, nullptr, nullptr, nullptr);
        } else if (const auto* number = std::get_if<double>(&value)) {
            transaction.exec_params(insert, recordId, key, "d", nullptr, doubleText(*number), nullptr, nullptr);
        } else if (const auto* date = std::get_if<Record::Date>(&value)) {
            transaction.exec_params(insert, recordId, key, "t", nullptr, nullptr, dateNanoseconds(*date), nullptr);
        } else {
            // Copied on the server from the staged object: the bytes never come back through here.
            transaction.exec_params("INSERT INTO parlino_cloud.fields (record_id, name, kind, asset_data) "
                                    "VALUES ($1, $2, 'a', lo_get($3::oid))",
                                    recordId, key, stagedAsset(key));
        }
    }
}

void RecordRows::numberChange(pqxx::transaction_base& transaction, std::int64_t zoneId, std::int64_t recordId)
{
    const auto change = transaction.exec_params1(
        "UPDATE parlino_cloud.zones SET last_change = last_change + 1 WHERE id = $1 RETURNING last_change", zoneId);
    transaction.exec_params("UPDATE parlino_cloud.records SET change_sequence = $1 WHERE id = $2",
                            change[0].as<std::int64_t>(), recordId);
}

std::vector<RecordRows::Row> RecordRows::namedRecord(pqxx::transaction_base& transaction, std::int64_t zoneId,
                                                     const std::string& name)
{
    return rowsOf(transaction.exec_params(std::string(rowColumns) + "WHERE zone_id = $1 AND record_name = $2", zoneId, name));
}

std::vector<RecordRows::Row> RecordRows::recordsOfType(pqxx::transaction_base& transaction, std::int64_t zoneId,
                                                       const std::string& type)
{
    return rowsOf(transaction.exec_params(
        std::string(rowColumns) + "WHERE zone_id = $1 AND record_type = $2 ORDER BY change_sequence", zoneId, type));
}

std::vector<RecordRows::Row> RecordRows::changedSince(pqxx::transaction_base& transaction, std::int64_t zoneId,
                                                      std::int64_t after, std::size_t limit)
{
    return rowsOf(transaction.exec_params(
        std::string(rowColumns) + "WHERE zone_id = $1 AND change_sequence > $2 ORDER BY change_sequence LIMIT $3", zoneId,
        after, static_cast<std::int64_t>(limit)));
}

std::vector<Record> RecordRows::load(pqxx::transaction_base& transaction, const RecordZone::ID& zoneID,
                                     const std::vector<Row>& rows, const Database::DesiredKeys& desiredKeys,
                                     const AssetSink& sink)
{
    std::vector<Record> records;
    if (rows.empty()) {
        return records;
    }
    records.reserve(rows.size());
    std::map<std::int64_t, std::size_t> indexOf;
    std::string ids = "{";
    for (const auto& row : rows) {
        indexOf[row.id] = records.size();
        records.emplace_back(row.recordType, Record::ID {row.recordName, zoneID});
        ids += (ids.size() > 1 ? "," : "") + std::to_string(row.id);
    }
    ids += "}";

    const auto fields = transaction.exec_params(
        "SELECT record_id, name, kind, string_value, double_value, date_value, octet_length(asset_data) "
        "FROM parlino_cloud.fields WHERE record_id = ANY($1::bigint[]) ORDER BY record_id, name",
        ids);
    const auto optionalText = [](const pqxx::field& field) {
        return field.is_null() ? std::nullopt : std::optional<std::string_view>(field.c_str());
    };
    for (const auto& field : fields) {
        const auto name = field[1].as<std::string>();
        if (!isDesired(desiredKeys, name)) {
            continue;
        }
        const auto recordId = field[0].as<std::int64_t>();
        auto& record = records[indexOf.at(recordId)];
        const std::string kind = field[2].is_null() ? std::string() : field[2].as<std::string>();
        if (kind != "a") {
            const auto value = storedValue(StoredField {
                .kind = kind,
                .stringValue = optionalText(field[3]),
                .doubleValue = optionalText(field[4]),
                .dateValue = field[5].is_null() ? std::nullopt : std::optional(field[5].as<std::int64_t>()),
            });
            if (value) {
                record.set(name, *value);
            }
            continue;
        }
        if (field[6].is_null()) {
            continue;
        }
        const auto size = field[6].as<std::int64_t>();
        if (size > sink.maxBytes) {
            if (sink.skipped) {
                sink.skipped->push_back({record.recordID(), name, size});
            }
            continue;
        }
        std::int64_t offset = 0;
        record.set(name, writeCachedAsset(sink.cacheFolder, [&](std::string& piece) {
            if (offset >= size) {
                return false;
            }
            const auto length = std::min<std::int64_t>(size - offset, static_cast<std::int64_t>(assetPieceBytes));
            // substring() counts from 1; an uncompressed stored value is read only where asked.
            const auto data = transaction.exec_params1(
                "SELECT substring(asset_data FROM $3 FOR $4) FROM parlino_cloud.fields WHERE record_id = $1 AND name = $2",
                recordId, name, offset + 1, length);
            const pqxx::binarystring bytes(data[0]);
            if (static_cast<std::int64_t>(bytes.size()) != length) {
                throw CloudError(CloudError::Code::internalError);
            }
            piece.assign(bytes.get(), bytes.get() + bytes.size());
            offset += length;
            if (sink.progressed) {
                sink.progressed();
            }
            return true;
        }));
    }
    return records;
}

} // namespace platform::cloud::server
