#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/Container.hpp"
#include "platform/cloud/Database.hpp"
#include "platform/cloud/Record.hpp"

#include "CloudServerTest.hpp"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>

using namespace platform::cloud;
using cloudtest::CloudServerTest;
using Code = CloudError::Code;

namespace {

const RecordZone::ID zoneID {"RecordingsZone"};

Record recording(const std::string& name, const std::string& title)
{
    Record record("Recording", Record::ID {name, zoneID});
    record.set("title", title);
    record.set("duration", 12.5);
    record.set("date", Record::Date(std::chrono::nanoseconds(1'700'000'000'123'456'789)));
    return record;
}

std::string binaryContent(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
    }
    return bytes;
}

std::size_t filesIn(const std::filesystem::path& folder)
{
    if (!std::filesystem::exists(folder)) {
        return 0;
    }
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

} // namespace

using RecordStoreTest = CloudServerTest;

TEST_F(RecordStoreTest, FieldsAndAssetsComeBackAsSavedWithTheirTypes)
{
    const auto database = container().privateCloudDatabase();
    database.save(RecordZone(zoneID));

    const auto audio = temporary / "audio.m4a";
    // Streamed in pieces: several whole ones and a short last one.
    const auto content = binaryContent((std::size_t {5} << 19) + 17);
    testsupport::writeFile(audio, content);
    testsupport::writeFile(temporary / "empty.m4a", "");

    auto record = recording("8F2C1A9E-0D43-4B7A-9E61-3C5D7A1B2E4F", "Stretnutie – poznámky");
    record.set("audioAsset", Asset(audio));
    record.set("empty", Asset(temporary / "empty.m4a"));
    record.set("nan", std::numeric_limits<double>::quiet_NaN());
    record.set("infinite", -std::numeric_limits<double>::infinity());
    record.set("tiny", 5e-324);
    record.set("category", "Work");
    EXPECT_EQ(database.save(record).recordID().recordName, record.recordID().recordName);
    // Saving the zone again keeps its records.
    database.save(RecordZone(zoneID));
    // The pieces were gathered on the server, which keeps nothing of them beside the record.
    {
        pqxx::connection connection(server->url());
        EXPECT_EQ(pqxx::nontransaction(connection).exec1("SELECT count(*) FROM pg_largeobject_metadata")[0].as<int>(), 0);
    }

    {
        const auto fetched = database.fetch(record.recordID());
        EXPECT_EQ(fetched.recordType(), "Recording");
        EXPECT_EQ(fetched.recordID(), record.recordID());
        EXPECT_EQ(fetched.allKeys(), record.allKeys());
        ASSERT_NE(fetched.get<std::string>("title"), nullptr);
        EXPECT_EQ(*fetched.get<std::string>("title"), "Stretnutie – poznámky");
        EXPECT_EQ(*fetched.get<double>("duration"), 12.5);
        EXPECT_EQ(*fetched.get<Record::Date>("date"), *record.get<Record::Date>("date"));
        EXPECT_TRUE(std::isnan(*fetched.get<double>("nan")));
        EXPECT_EQ(*fetched.get<double>("infinite"), -std::numeric_limits<double>::infinity());
        EXPECT_EQ(*fetched.get<double>("tiny"), 5e-324);

        // Wrong type and absent read alike through get, and contains tells them apart.
        EXPECT_EQ(fetched.get<double>("title"), nullptr);
        EXPECT_TRUE(fetched.contains("title"));
        EXPECT_EQ(fetched.get<std::string>("transcription"), nullptr);
        EXPECT_FALSE(fetched.contains("transcription"));

        const auto* asset = fetched.get<Asset>("audioAsset");
        ASSERT_NE(asset, nullptr);
        EXPECT_EQ(asset->fileURL().parent_path(), temporary / "cache");
        EXPECT_EQ(testsupport::readFile(asset->fileURL()), content);
        EXPECT_EQ(std::filesystem::file_size(fetched.get<Asset>("empty")->fileURL()), 0u);
        EXPECT_EQ(filesIn(temporary / "cache"), 2u);

        // A query asks for a type; desired keys leave the rest (and their assets) behind.
        database.save(Record("Note", Record::ID {"other", zoneID}));
        const auto titles = database.records(Query {"Recording"}, zoneID, std::vector<std::string> {"title"});
        ASSERT_EQ(titles.size(), 1u);
        EXPECT_EQ(titles[0].allKeys(), std::vector<std::string> {"title"});
        EXPECT_EQ(filesIn(temporary / "cache"), 2u);
    }
    // The cache files go with the last copy of the fetched record.
    EXPECT_EQ(filesIn(temporary / "cache"), 0u);

    // A smaller cap: the asset is neither sent nor fetched, and a fetch names what it left out.
    auto capped = configuration();
    capped.maxAssetBytes = static_cast<std::int64_t>(content.size()) - 1;
    const auto small = Container(cloudtest::containerIdentifier, capped).privateCloudDatabase();
    auto copy = recording("9A3D2B1C-0E54-4C8B-8F72-4D6E8B2C3F50", "copy");
    copy.set("audioAsset", Asset(audio));
    EXPECT_EQ(failure([&] { small.save(copy); }), Code::limitExceeded);
    const auto changes = small.recordZoneChanges(zoneID, std::nullopt);
    ASSERT_EQ(changes.modifications.size(), 2u);
    EXPECT_FALSE(changes.modifications[0].contains("audioAsset"));
    EXPECT_TRUE(changes.modifications[0].contains("empty"));
    ASSERT_EQ(changes.skippedAssets.size(), 1u);
    EXPECT_EQ(changes.skippedAssets[0].recordID, record.recordID());
    EXPECT_EQ(changes.skippedAssets[0].key, "audioAsset");
    EXPECT_EQ(changes.skippedAssets[0].bytes, static_cast<std::int64_t>(content.size()));

    // An asset that cannot be cached fails the whole answer, so no token passes over its record.
    testsupport::writeFile(temporary / "not-a-folder", "");
    auto unwritable = configuration();
    unwritable.assetCacheFolder = temporary / "not-a-folder" / "cache";
    const auto blocked = Container(cloudtest::containerIdentifier, unwritable).privateCloudDatabase();
    EXPECT_EQ(failure([&] { blocked.fetch(record.recordID()); }), CloudError::Code::assetNotAvailable);
    EXPECT_EQ(failure([&] { blocked.recordZoneChanges(zoneID, std::nullopt); }), CloudError::Code::assetNotAvailable);
}

TEST_F(RecordStoreTest, ExistingRecordsMissingItemsAndBadInputFailWithTheirCodes)
{
    const auto database = container().privateCloudDatabase();
    auto first = recording("A1B2C3D4-0000-4000-8000-000000000001", "first");
    EXPECT_EQ(failure([&] { database.save(first); }), Code::zoneNotFound);
    EXPECT_EQ(failure([&] { database.fetch(zoneID); }), Code::zoneNotFound);
    EXPECT_EQ(failure([&] { database.deleteRecordZone(zoneID); }), Code::zoneNotFound);
    EXPECT_EQ(failure([&] { database.records(Query {"Recording"}, zoneID); }), Code::zoneNotFound);

    database.save(RecordZone(zoneID));
    EXPECT_EQ(database.fetch(zoneID).zoneID(), zoneID);
    database.save(first);

    auto again = recording(first.recordID().recordName, "second");
    try {
        database.save(again);
        FAIL() << "a second save of one name must fail";
    } catch (const CloudError& error) {
        EXPECT_EQ(error.code(), Code::serverRecordChanged);
        EXPECT_EQ(error.rawCode(), 14);
        EXPECT_NE(error.localizedDescription().find("already exists"), std::string::npos);
        EXPECT_TRUE(error.sqlState().empty());
    }
    EXPECT_EQ(*database.fetch(first.recordID()).get<std::string>("title"), "first");

    EXPECT_EQ(failure([&] { database.fetch(Record::ID {"no-such-record", zoneID}); }), Code::unknownItem);

    // Another container of the same account is a world of its own.
    const auto elsewhere = container("iCloud.com.Elsewhere").privateCloudDatabase();
    EXPECT_EQ(failure([&] { elsewhere.fetch(zoneID); }), Code::zoneNotFound);

    auto missingAsset = recording("with-missing-asset", "x");
    missingAsset.set("audioAsset", Asset(temporary / "gone.m4a"));
    EXPECT_EQ(failure([&] { database.save(missingAsset); }), Code::assetFileNotFound);

    const auto invalid = [&](Record record) { return failure([&] { database.save(record); }); };
    EXPECT_EQ(invalid(recording("", "no name")), Code::invalidArguments);
    EXPECT_EQ(invalid(recording(std::string("bad\nname"), "control")), Code::invalidArguments);
    EXPECT_EQ(invalid(recording(std::string("\xff\xfe"), "not UTF-8")), Code::invalidArguments);
    EXPECT_EQ(invalid(recording(std::string(256, 'n'), "long")), Code::invalidArguments);
    EXPECT_EQ(invalid(recording("ok", std::string("nul\0inside", 10))), Code::invalidArguments);
    auto badKey = recording("ok", "bad key");
    badKey.set("1st", 1.0);
    EXPECT_EQ(invalid(badKey), Code::invalidArguments);
    EXPECT_EQ(invalid(Record("Drop Table", Record::ID {"ok", zoneID})), Code::invalidArguments);
    EXPECT_EQ(invalid(Record("Recording", Record::ID {"ok", RecordZone::ID {"RecordingsZone", "someone"}})),
              Code::invalidArguments);
    EXPECT_EQ(failure([&] { container("").privateCloudDatabase().save(RecordZone(zoneID)); }), Code::badContainer);
    // Hostile text is stored as text.
    const auto quoted = recording("'); DROP TABLE parlino_cloud.records; --", "quote's");
    database.save(quoted);
    EXPECT_EQ(*database.fetch(quoted.recordID()).get<std::string>("title"), "quote's");
}
