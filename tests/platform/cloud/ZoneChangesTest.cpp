#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/Container.hpp"
#include "platform/cloud/Database.hpp"
#include "platform/cloud/ServerChangeToken.hpp"

#include "CloudServerTest.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace platform::cloud;
using cloudtest::CloudServerTest;
using Code = CloudError::Code;

namespace {

const RecordZone::ID zoneID {"RecordingsZone"};

void saveNamed(const Database& database, const std::string& name, const std::string& type = "Recording")
{
    Record record(type, Record::ID {name, zoneID});
    record.set("title", name);
    database.save(record);
}

std::vector<std::string> namesOf(const std::vector<Record>& records)
{
    std::vector<std::string> names;
    for (const auto& record : records) {
        names.push_back(record.recordID().recordName);
    }
    return names;
}

} // namespace

using ZoneChangesTest = CloudServerTest;

TEST_F(ZoneChangesTest, ChangesComeInBatchesUntilNoMoreAreComing)
{
    auto settings = configuration();
    settings.changesBatchSize = 2;
    const auto database = Container(cloudtest::containerIdentifier, settings).privateCloudDatabase();
    database.save(RecordZone(zoneID));
    for (const auto* name : {"r1", "r2", "r3", "r4", "r5"}) {
        saveNamed(database, name);
    }

    std::vector<std::string> seen;
    std::vector<bool> moreComing;
    std::optional<ServerChangeToken> token;
    do {
        const auto changes = database.recordZoneChanges(zoneID, token);
        for (const auto& name : namesOf(changes.modifications)) {
            seen.push_back(name);
        }
        moreComing.push_back(changes.moreComing);
        // Tokens travel as bytes between fetches, as a client stores them.
        token = ServerChangeToken::fromBytes(changes.changeToken.bytes());
        ASSERT_TRUE(token);
    } while (moreComing.back());
    EXPECT_EQ(seen, (std::vector<std::string> {"r1", "r2", "r3", "r4", "r5"}));
    EXPECT_EQ(moreComing, (std::vector<bool> {true, true, false}));

    const auto nothingNew = database.recordZoneChanges(zoneID, token);
    EXPECT_TRUE(nothingNew.modifications.empty());
    EXPECT_FALSE(nothingNew.moreComing);
    EXPECT_EQ(nothingNew.changeToken, *token);

    saveNamed(database, "r6", "Note");
    const auto next = database.recordZoneChanges(zoneID, token, std::vector<std::string> {});
    EXPECT_EQ(namesOf(next.modifications), std::vector<std::string> {"r6"});
    EXPECT_EQ(next.modifications[0].recordType(), "Note");
    EXPECT_TRUE(next.modifications[0].allKeys().empty());

    // A smaller results limit wins over the configured batch.
    const auto one = database.recordZoneChanges(zoneID, std::nullopt, std::nullopt, 1);
    EXPECT_EQ(namesOf(one.modifications), std::vector<std::string> {"r1"});
    EXPECT_TRUE(one.moreComing);

    EXPECT_FALSE(ServerChangeToken::fromBytes(std::vector<std::uint8_t> {1, 2, 3}));
    auto forged = token->bytes();
    forged[0] ^= 1;
    EXPECT_FALSE(ServerChangeToken::fromBytes(forged));
}

TEST_F(ZoneChangesTest, LargeAssetsEndABatchEarly)
{
    auto settings = configuration();
    settings.batchAssetBytes = 150'000;
    const auto database = Container(cloudtest::containerIdentifier, settings).privateCloudDatabase();
    database.save(RecordZone(zoneID));
    testsupport::writeFile(temporary / "audio", std::string(100'000, 'a'));
    for (const auto* name : {"a", "b", "c"}) {
        Record record("Recording", Record::ID {name, zoneID});
        record.set("audioAsset", Asset(temporary / "audio"));
        database.save(record);
    }
    std::vector<std::size_t> sizes;
    std::optional<ServerChangeToken> token;
    for (bool more = true; more;) {
        const auto changes = database.recordZoneChanges(zoneID, token);
        sizes.push_back(changes.modifications.size());
        token = changes.changeToken;
        more = changes.moreComing;
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t> {1, 1, 1}));
}

TEST_F(ZoneChangesTest, TokensOfADeletedZoneExpireAndItsRecordsAreGone)
{
    const auto database = container().privateCloudDatabase();
    database.save(RecordZone(zoneID));
    saveNamed(database, "before");
    const auto token = database.recordZoneChanges(zoneID, std::nullopt).changeToken;

    database.deleteRecordZone(zoneID);
    EXPECT_EQ(failure([&] { database.recordZoneChanges(zoneID, token); }), Code::zoneNotFound);
    database.save(RecordZone(zoneID));
    EXPECT_EQ(failure([&] { database.recordZoneChanges(zoneID, token); }), Code::changeTokenExpired);
    // A token past the zone's last change (forged, or from a server that lost data) is expired too.
    const ServerChangeToken ahead(database.recordZoneChanges(zoneID, std::nullopt).changeToken.zoneIncarnation(), 99);
    EXPECT_EQ(failure([&] { database.recordZoneChanges(zoneID, ahead); }), Code::changeTokenExpired);

    const auto fresh = database.recordZoneChanges(zoneID, std::nullopt);
    EXPECT_TRUE(fresh.modifications.empty());
    EXPECT_EQ(failure([&] { database.fetch(Record::ID {"before", zoneID}); }), Code::unknownItem);
    saveNamed(database, "before");
    EXPECT_EQ(namesOf(database.recordZoneChanges(zoneID, fresh.changeToken).modifications),
              std::vector<std::string> {"before"});
}

TEST_F(ZoneChangesTest, AReaderFollowingConcurrentWritersSeesEveryRecordOnce)
{
    constexpr int writers = 4;
    constexpr int perWriter = 25;
    // Every client starts on an empty server at once: the store is created once, without a race.
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            const auto database = container().privateCloudDatabase();
            database.save(RecordZone(zoneID));
            for (int i = 0; i < perWriter; ++i) {
                saveNamed(database, "w" + std::to_string(w) + "-" + std::to_string(i));
            }
        });
    }
    const auto reader = container().privateCloudDatabase();
    std::multiset<std::string> seen;
    std::optional<ServerChangeToken> token;
    const auto follow = [&] {
        for (bool more = true; more;) {
            const auto changes = reader.recordZoneChanges(zoneID, token, std::vector<std::string> {}, 7);
            for (const auto& name : namesOf(changes.modifications)) {
                seen.insert(name);
            }
            token = changes.changeToken;
            more = changes.moreComing;
        }
    };
    while (seen.size() < static_cast<std::size_t>(writers * perWriter / 2)) {
        try {
            follow();
        } catch (const CloudError& error) {
            ASSERT_EQ(error.code(), Code::zoneNotFound) << error.what();
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    follow();
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * perWriter));
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), seen.size());
}
