#include "platform/cloud/CloudAdministration.hpp"
#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/Container.hpp"
#include "platform/cloud/Database.hpp"
#include "platform/cloud/server/CloudBackend.hpp"

#include "CloudServerTest.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

using namespace platform::cloud;
using cloudtest::CloudServerTest;
using Code = CloudError::Code;

namespace {

const RecordZone::ID zoneID {"RecordingsZone"};

Record withAsset(const std::string& name, const std::filesystem::path& file)
{
    Record record("Recording", Record::ID {name, zoneID});
    record.set("title", name);
    record.set("audioAsset", Asset(file));
    return record;
}

void executeAsSuperuser(const std::string& url, const std::string& sql)
{
    pqxx::connection connection(url);
    pqxx::nontransaction(connection).exec(sql);
}

} // namespace

TEST(CloudAccountWithoutServerTest, NoUrlMeansNoAccountAndNothingTouchesTheNetwork)
{
    testsupport::ScopedEnvironment unset(CloudConfiguration::urlVariable, nullptr);
    EXPECT_FALSE(ubiquityIdentityToken());
    const Container container(cloudtest::containerIdentifier);
    EXPECT_FALSE(container.configuration().url);
    EXPECT_EQ(container.accountStatus(), AccountStatus::noAccount);
    try {
        container.privateCloudDatabase().save(RecordZone(zoneID));
        FAIL() << "no account, no database";
    } catch (const CloudError& error) {
        EXPECT_EQ(error.code(), Code::notAuthenticated);
        EXPECT_EQ(std::string(CloudError::domain), "ParlinoCloudErrorDomain");
    }

    testsupport::ScopedEnvironment empty(CloudConfiguration::urlVariable, "");
    EXPECT_FALSE(ubiquityIdentityToken());
    testsupport::ScopedEnvironment malformed(CloudConfiguration::urlVariable, "postgresql://[::1");
    EXPECT_FALSE(ubiquityIdentityToken());
    EXPECT_EQ(Container(cloudtest::containerIdentifier).accountStatus(), AccountStatus::noAccount);

    testsupport::ScopedEnvironment set(CloudConfiguration::urlVariable, "postgresql://alice@db.invalid/notes");
    EXPECT_EQ(ubiquityIdentityToken(), "alice@notes");
}

using CloudAccountTest = CloudServerTest;

TEST_F(CloudAccountTest, StatusFollowsWhatTheRoleMayDo)
{
    EXPECT_EQ(container().accountStatus(), AccountStatus::available);
    EXPECT_EQ(configuration().identityToken(), "postgres@postgres");
    {
        testsupport::ScopedEnvironment url(CloudConfiguration::urlVariable, server->url());
        EXPECT_EQ(ubiquityIdentityToken(), "postgres@postgres");
        EXPECT_EQ(Container(cloudtest::containerIdentifier).accountStatus(), AccountStatus::available);
    }

    // A role that may not create the store in a database of another owner.
    executeAsSuperuser(server->url(), "CREATE ROLE visitor LOGIN");
    executeAsSuperuser(server->url(), "CREATE DATABASE guarded");
    auto visitor = configuration();
    visitor.url = server->url("guarded", "visitor");
    EXPECT_EQ(Container(cloudtest::containerIdentifier, visitor).accountStatus(), AccountStatus::restricted);
    EXPECT_EQ(failure([&] { Container(cloudtest::containerIdentifier, visitor).privateCloudDatabase().save(RecordZone(zoneID)); }),
              Code::permissionFailure);

    // An ordinary role in a database of its own sends and fetches assets like the superuser.
    executeAsSuperuser(server->url(), "CREATE ROLE writer LOGIN");
    executeAsSuperuser(server->url(), "CREATE DATABASE writers OWNER writer");
    auto writer = configuration();
    writer.url = server->url("writers", "writer");
    const auto own = Container(cloudtest::containerIdentifier, writer).privateCloudDatabase();
    own.save(RecordZone(zoneID));
    testsupport::writeFile(temporary / "mine", std::string(3000, 'm'));
    own.save(withAsset("mine", temporary / "mine"));
    const auto mine = own.fetch(Record::ID {"mine", zoneID});
    ASSERT_TRUE(mine.get<Asset>("audioAsset"));
    EXPECT_EQ(testsupport::readFile(mine.get<Asset>("audioAsset")->fileURL()), std::string(3000, 'm'));

    // A store written by a newer client is left alone.
    executeAsSuperuser(server->url(), "INSERT INTO parlino_cloud.schema_version (version) VALUES (99)");
    EXPECT_EQ(container().accountStatus(), AccountStatus::couldNotDetermine);
    EXPECT_EQ(failure([&] { container().privateCloudDatabase().save(RecordZone(zoneID)); }), Code::incompatibleVersion);
}

TEST_F(CloudAccountTest, QuotaCountsAssetBytesAndRefusesWholeRecords)
{
    const auto database = container().privateCloudDatabase();
    database.save(RecordZone(zoneID));
    const CloudAdministration administration(configuration());
    const auto account = administration.currentAccount();
    EXPECT_EQ(account, "postgres");
    administration.setQuota(account, 1000);
    testsupport::writeFile(temporary / "big", std::string(2000, 'b'));
    testsupport::writeFile(temporary / "small", std::string(600, 's'));

    try {
        database.save(withAsset("big", temporary / "big"));
        FAIL() << "over quota";
    } catch (const CloudError& error) {
        EXPECT_EQ(error.code(), Code::quotaExceeded);
        EXPECT_EQ(error.rawCode(), 25);
        EXPECT_NE(error.localizedDescription().find("Quota exceeded"), std::string::npos);
    }
    EXPECT_EQ(failure([&] { database.fetch(Record::ID {"big", zoneID}); }), Code::unknownItem);
    // Without its asset the same record fits.
    Record metadataOnly("Recording", Record::ID {"big", zoneID});
    metadataOnly.set("title", "big");
    database.save(metadataOnly);

    database.save(withAsset("small", temporary / "small"));
    EXPECT_EQ(administration.usedBytes(account), 600);
    EXPECT_EQ(failure([&] { database.save(withAsset("second small", temporary / "small")); }), Code::quotaExceeded);
    EXPECT_EQ(administration.usedBytes(account), 600);

    database.deleteRecordZone(zoneID);
    EXPECT_EQ(administration.usedBytes(account), 0);
    database.save(RecordZone(zoneID));
    database.save(withAsset("second small", temporary / "small"));
    administration.setQuota(account, std::nullopt);
    database.save(withAsset("big again", temporary / "big"));
    EXPECT_EQ(administration.usedBytes(account), 2600);
}

TEST_F(CloudAccountTest, AStoppedServerFailsWithTransportCodesAndARestartedOneServesAgain)
{
    const auto owner = container();
    const auto database = owner.privateCloudDatabase();
    database.save(RecordZone(zoneID));
    Record kept("Recording", Record::ID {"kept", zoneID});
    database.save(kept);

    server->stop();
    EXPECT_EQ(failure([&] { database.save(Record("Recording", Record::ID {"lost", zoneID})); }), Code::networkUnavailable);
    EXPECT_EQ(CloudError::describe(Code::networkUnavailable), "Cannot connect to the cloud server");
    EXPECT_EQ(failure([&] { owner.accountStatus(); }), Code::networkUnavailable);
    EXPECT_EQ(failure([&] { database.recordZoneChanges(zoneID, std::nullopt); }), Code::networkUnavailable);

    server->restart();
    EXPECT_EQ(owner.accountStatus(), AccountStatus::available);
    database.save(Record("Recording", Record::ID {"after", zoneID}));
    EXPECT_EQ(database.records(Query {"Recording"}, zoneID).size(), 2u);
}

TEST_F(CloudAccountTest, SessionsEndedByTheServerAreConnectionLossesAndIdleOnesAreReplaced)
{
    const auto database = container().privateCloudDatabase();
    database.save(RecordZone(zoneID));
    // An administrator (or a shutdown) ends the idle pooled session; the next call gets a new one.
    executeAsSuperuser(server->url(), "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                      "WHERE application_name = 'parlino' AND pid <> pg_backend_pid()");
    database.save(Record("Recording", Record::ID {"after termination", zoneID}));
    EXPECT_EQ(database.records(Query {"Recording"}, zoneID).size(), 1u);

    // A session that ends in the middle of the work is lost, whether it was fresh or pooled (the
    // pooled one is tried once more on a fresh connection first).
    server::CloudBackend backend(configuration());
    int attempts = 0;
    const auto endOwnSession = [&](pqxx::connection& connection) {
        ++attempts;
        pqxx::work transaction(connection);
        transaction.exec("SELECT pg_terminate_backend(pg_backend_pid())");
        transaction.commit();
    };
    EXPECT_EQ(failure([&] { backend.run(endOwnSession); }), Code::networkFailure);
    EXPECT_EQ(attempts, 1);
    backend.run([](pqxx::connection&) {});
    EXPECT_EQ(failure([&] { backend.run(endOwnSession); }), Code::networkFailure);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(CloudError::describe(Code::networkFailure), "The connection to the cloud server was lost");
}
