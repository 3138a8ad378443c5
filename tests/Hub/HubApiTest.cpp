#include "Hub/Hub.hpp"
#include "Hub/HubApi.hpp"
#include "Hub/RepositoryPath.hpp"
#include "LoopbackFixture.hpp"
#include "platform/net/NetError.hpp"
#include "support/ScopedEnvironment.hpp"

#include <cstdlib>

using hub::HubApi;
using hub::HubClientError;
using hub::Repo;
using hub::RepoType;
using loopback::LoopbackHub;
using Names = std::vector<std::string>;

using testsupport::ScopedEnvironment;

namespace {

class HubApiTest : public LoopbackFixture {
protected:
    void SetUp() override
    {
        LoopbackFixture::SetUp();
        publish("o/n", "config.json", R"({"model_type": "whisper"})");
        publish("o/n", "openai_whisper-base/AudioEncoder.mlmodelc/weights/weight.bin", "w");
        publish("o/n", "openai_whisper-base/config.json", "{}");
        publish("o/n", "openai_whisper-tiny/config.json", "{}");
    }

    HubClientError::Kind hubFailure(const std::function<void()>& action)
    {
        return caught<HubClientError>(action).kind();
    }
};

} // namespace

TEST_F(HubApiTest, ListingFiltersByGlobsWithEachNameOnce)
{
    const HubApi api = client();
    const Names all { "config.json", "openai_whisper-base/AudioEncoder.mlmodelc/weights/weight.bin",
        "openai_whisper-base/config.json", "openai_whisper-tiny/config.json" };
    EXPECT_EQ(api.getFilenames(Repo("o/n")), all);
    EXPECT_EQ(api.getFilenames("o/n", "*openai_whisper-base/*"), (Names { all[1], all[2] }));
    EXPECT_EQ(api.getFilenames(Repo("o/n"), Names { "*config.json", "openai_whisper-base/*", "nothing*" }), all);
    EXPECT_EQ(api.getFilenames("o/n", Names { "config.json" }), Names { "config.json" });
    EXPECT_EQ(api.getFilenames("o/n", "[co]*.json"), (Names { all[0], all[2], all[3] }));
    EXPECT_EQ(api.getFilenames("o/n", "?onfig.json"), Names { "config.json" });
    EXPECT_EQ(hub.requests().back().path, "/api/models/o/n");

    publish("datasets/o/set", "data.csv", "1,2");
    EXPECT_EQ(api.getFilenames(Repo("o/set", RepoType::datasets)), Names { "data.csv" });
    EXPECT_EQ(hub.requests().back().path, "/api/datasets/o/set");

    EXPECT_EQ(hub::matching({ "a/.hidden", "b", "a/b/c" }, "a/*"), (Names { "a/.hidden", "a/b/c" }));
    EXPECT_EQ(hub::matching({ "a*", "ab" }, "a\\*"), Names { "a*" });
}

TEST_F(HubApiTest, StatusesMapToHubErrors)
{
    const HubApi api = client();
    const std::string listing = LoopbackHub::listingPath("o/n");
    EXPECT_EQ(hubFailure([&] { api.getFilenames("o/missing"); }), HubClientError::Kind::authorizationRequired);
    for (const int status : { 400, 401, 403, 499 }) {
        hub.failWithStatus(listing, status);
        EXPECT_EQ(hubFailure([&] { api.getFilenames("o/n"); }), HubClientError::Kind::authorizationRequired) << status;
    }
    for (const int status : { 304, 500, 503 }) {
        hub.failWithStatus(listing, status);
        const auto error = caught<HubClientError>([&] { api.getFilenames("o/n"); });
        EXPECT_EQ(error.kind(), HubClientError::Kind::httpStatusCode);
        EXPECT_EQ(error.statusCode(), status);
    }
    hub.clearFaults();

    // Redirects are followed to the listing.
    hub.redirect("/api/models/o/old", listing);
    EXPECT_EQ(api.getFilenames("o/old").size(), 4u);
}

TEST_F(HubApiTest, ListingsAreValidatedBeforeUse)
{
    const HubApi api = client();
    for (const std::string unsafe : { "../escape.json", "/etc/passwd", "a/../../b", "a//b", "./a", "a\\..\\b", "a/", "" }) {
        hub.setListing("o/n", { "config.json", unsafe });
        EXPECT_THROW(api.getFilenames("o/n"), hub::UnsafePathError) << unsafe;
    }
    hub.clearFaults();
    EXPECT_THROW(api.getFilenames("../o"), hub::UnsafePathError);

    const std::string listing = LoopbackHub::listingPath("o/n");
    hub.redirect(listing, "/o/n/resolve/main/config.json"); // an object without "siblings"
    EXPECT_EQ(hubFailure([&] { api.getFilenames("o/n"); }), HubClientError::Kind::parse);
    hub.clearFaults();
    hub.redirect(listing, "/o/n/resolve/main/openai_whisper-base/AudioEncoder.mlmodelc/weights/weight.bin");
    EXPECT_THROW(api.getFilenames("o/n"), nlohmann::json::parse_error);
    hub.clearFaults();

    const HubApi broken(downloadBase, std::nullopt, "not an endpoint");
    EXPECT_EQ(caught<platform::NetError>([&] { broken.getFilenames("o/n"); }).code(), platform::NetError::Code::badURL);
}

TEST_F(HubApiTest, TokenIsSentOnlyWhenSetAndCheckedByWhoami)
{
    hub.setAccessToken("secret");
    client().getFilenames("o/n");
    EXPECT_FALSE(hub.requests().back().authorization);
    client("secret").getFilenames("o/n");
    EXPECT_EQ(hub.requests().back().authorization, "Bearer secret");

    hub.clearRequests();
    EXPECT_EQ(hubFailure([&] { client().whoami(); }), HubClientError::Kind::authorizationRequired);
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_EQ(hubFailure([&] { client("wrong").whoami(); }), HubClientError::Kind::authorizationRequired);
    EXPECT_EQ(client("secret").whoami()["name"]->stringValue(), "loopback");
    EXPECT_EQ(hub.requests().back().path, "/api/whoami-v2");

    const ScopedEnvironment endpoint(HubApi::endpointVariable, hub.endpoint().c_str());
    EXPECT_EQ(HubApi::defaultEndpoint(), hub.endpoint());
    EXPECT_EQ(hub::whoami("secret")["type"]->stringValue(), "user");
}

TEST(HubApi, LocationsAndEndpointDefaults)
{
    testsupport::TemporaryDirectory temporary;
    {
        const ScopedEnvironment documents("XDG_DOCUMENTS_DIR", temporary.path().c_str());
        const ScopedEnvironment endpoint(HubApi::endpointVariable, nullptr);
        const HubApi defaults;
        EXPECT_EQ(defaults.downloadBase, temporary / "modelhub");
        EXPECT_EQ(defaults.endpoint, HubApi::publicEndpoint);
        EXPECT_FALSE(defaults.hfToken);
        EXPECT_EQ(defaults.localRepoLocation(Repo("aurislabs/auris-coreml")),
            temporary.path() / "modelhub" / "models" / "aurislabs" / "auris-coreml");
    }
    {
        const ScopedEnvironment endpoint(HubApi::endpointVariable, "");
        EXPECT_EQ(HubApi::defaultEndpoint(), HubApi::publicEndpoint);
    }
    const HubApi given(temporary.path());
    EXPECT_EQ(given.localRepoLocation(Repo("owner/name", RepoType::datasets)), temporary / "datasets" / "owner" / "name");
}

TEST_F(HubApiTest, ConfigurationFilesMustHoldObjects)
{
    const HubApi api = client();
    const auto folder = api.localRepoLocation(Repo("o/n"));
    testsupport::writeFile(folder / "config.json", R"({"model_type": "whisper"})");
    testsupport::writeFile(folder / "sub" / "list.json", "[1, 2]");
    testsupport::writeFile(folder / "broken.json", "{");
    EXPECT_EQ(api.configuration(folder / "config.json")["modelType"]->stringValue(), "whisper");
    EXPECT_EQ(api.configuration("config.json", Repo("o/n"))["model_type"]->stringValue(), "whisper");
    EXPECT_EQ(hubFailure([&] { api.configuration("sub/list.json", Repo("o/n")); }), HubClientError::Kind::parse);
    EXPECT_THROW(api.configuration(folder / "broken.json"), nlohmann::json::parse_error);
    EXPECT_THROW(api.configuration(folder / "missing.json"), std::filesystem::filesystem_error);
    EXPECT_THROW(api.configuration("../../../o/n/config.json", Repo("o/n")), hub::UnsafePathError);
}
