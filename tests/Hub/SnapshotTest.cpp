#include "Hub/HubApi.hpp"
#include "Hub/RepositoryPath.hpp"
#include "LoopbackFixture.hpp"
#include "platform/net/NetError.hpp"

using hub::HubApi;
using hub::HubClientError;
using hub::Progress;
using hub::Repo;
using loopback::LoopbackHub;
using Names = std::vector<std::string>;

namespace {

constexpr char repoId[] = "aurislabs/auris-coreml";
const std::string folderPattern = "*openai_whisper-base/*";

class SnapshotTest : public LoopbackFixture {
protected:
    void SetUp() override
    {
        LoopbackFixture::SetUp();
        for (std::size_t i = 0; i < files.size(); ++i) {
            publish(repoId, files[i], std::string(40'000 + i * 1000, static_cast<char>('a' + i)));
        }
        publish(repoId, "openai_whisper-tiny/config.json", "{}");
    }

    std::string path(std::size_t index) const { return LoopbackHub::filePath(repoId, files[index]); }
    std::filesystem::path local() const { return downloadBase / "models" / "aurislabs" / "auris-coreml"; }
    Names localFiles() const
    {
        Names names;
        for (const auto& file : files) {
            names.push_back(file);
        }
        return names;
    }

    struct Recorder {
        std::vector<double> fractions;
        std::vector<std::int64_t> totals;
        HubApi::ProgressHandler handler()
        {
            return [this](const Progress& progress) {
                fractions.push_back(progress.fractionCompleted());
                totals.push_back(progress.totalUnitCount());
            };
        }
    };

    // Sorted by name, so the listing gives them in this order.
    const std::array<std::string, 5> files { "openai_whisper-base/AudioEncoder.mlmodelc/model.json",
        "openai_whisper-base/AudioEncoder.mlmodelc/weights/weight.bin", "openai_whisper-base/MelSpectrogram.mlmodelc/model.json",
        "openai_whisper-base/TextDecoder.mlmodelc/model.json", "openai_whisper-base/config.json" };
};

} // namespace

TEST_F(SnapshotTest, LaysOutTheRepositoryAndFetchesOnlyWhatIsMissing)
{
    Recorder progress;
    const auto folder = client().snapshot(Repo(repoId), Names { folderPattern }, progress.handler());
    EXPECT_EQ(folder, local());
    EXPECT_EQ(filesBelow(folder), localFiles());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(testsupport::readFile(folder / files[i]), testsupport::readFile(hub.repositoryFolder(repoId) / files[i]));
    }
    ASSERT_FALSE(progress.fractions.empty());
    EXPECT_TRUE(std::is_sorted(progress.fractions.begin(), progress.fractions.end()));
    EXPECT_EQ(progress.fractions.back(), 1.0);
    EXPECT_EQ(progress.totals.back(), 5);
    // Some report lies strictly inside a file's share: progress arrives during transfers.
    EXPECT_TRUE(std::any_of(progress.fractions.begin(), progress.fractions.end(), [](double f) { return f > 0 && f < 0.2; }));

    hub.clearRequests();
    Recorder second;
    client().snapshot(Repo(repoId), Names { folderPattern }, second.handler());
    const auto requests = hub.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, LoopbackHub::listingPath(repoId));
    EXPECT_EQ(second.fractions, std::vector<double> { 1.0 });

    // Presence alone counts: a file changed on disk is kept as it is.
    testsupport::writeFile(folder / files[0], "edited");
    client().snapshot(Repo(repoId), Names { folderPattern });
    EXPECT_EQ(testsupport::readFile(folder / files[0]), "edited");
}

TEST_F(SnapshotTest, FailureMidwayKeepsFinishedFilesAndARerunCompletesTheRest)
{
    hub.dropConnectionAfter(path(2), 10'000);
    Recorder progress;
    const auto error = caught<platform::NetError>([&] { client().snapshot(Repo(repoId), Names { folderPattern }, progress.handler()); });
    EXPECT_EQ(error.code(), platform::NetError::Code::networkConnectionLost);
    EXPECT_EQ(filesBelow(local()), (Names { files[0], files[1] }));
    EXPECT_LT(progress.fractions.back(), 0.6);
    EXPECT_EQ(requestsTo(path(3)), 0u);

    hub.clearFaults();
    hub.clearRequests();
    client().snapshot(Repo(repoId), Names { folderPattern });
    EXPECT_EQ(filesBelow(local()), localFiles());
    EXPECT_EQ(requestsTo(path(0)) + requestsTo(path(1)), 0u);
    EXPECT_EQ(requestsTo(path(2)) + requestsTo(path(3)) + requestsTo(path(4)), 3u);
}

TEST_F(SnapshotTest, ErrorResponsesAndStallsLeaveNoFile)
{
    const Repo repo(repoId);
    hub.failWithStatus(path(0), 404);
    EXPECT_EQ(caught<HubClientError>([&] { client().snapshot(repo, Names { folderPattern }); }).kind(),
        HubClientError::Kind::authorizationRequired);
    hub.failWithStatus(path(0), 500);
    EXPECT_EQ(caught<HubClientError>([&] { client().snapshot(repo, Names { folderPattern }); }).statusCode(), 500);
    EXPECT_TRUE(filesBelow(local()).empty());
    hub.clearFaults();

    // The idle timeout ends a stalled transfer; a slow listing counts the same.
    HubApi impatient = client();
    impatient.timeout = std::chrono::milliseconds(200);
    hub.stallAfter(path(1), 5000);
    EXPECT_EQ(caught<platform::NetError>([&] { impatient.snapshot(repo, Names { folderPattern }); }).code(),
        platform::NetError::Code::timedOut);
    EXPECT_EQ(filesBelow(local()), Names { files[0] });
    hub.clearFaults();
    hub.delay(LoopbackHub::listingPath(repoId), std::chrono::seconds(30));
    EXPECT_THROW(impatient.snapshot(repo, Names { folderPattern }), platform::NetError);
}

TEST_F(SnapshotTest, AStopRequestEndsTheRunningTransferAndStartsNoOther)
{
    const Repo repo(repoId);
    hub.stallAfter(path(1), 5000);
    std::stop_source stop;
    HubApi cancellable = client();
    cancellable.stopToken = stop.get_token();
    // Asked from the transfer's own progress report, once the stalled second file is under way.
    const auto error = caught<platform::NetError>([&] {
        cancellable.snapshot(repo, Names { folderPattern }, [&](const Progress& progress) {
            if (progress.fractionCompleted() > 0.2) {
                stop.request_stop();
            }
        });
    });
    EXPECT_EQ(error.code(), platform::NetError::Code::cancelled);
    EXPECT_EQ(filesBelow(local()), Names { files[0] });
    EXPECT_EQ(requestsTo(path(2)), 0u);

    // Once stopped, not even the listing is asked for.
    hub.clearFaults();
    hub.clearRequests();
    EXPECT_EQ(caught<platform::NetError>([&] { cancellable.snapshot(repo, Names { folderPattern }); }).code(),
        platform::NetError::Code::cancelled);
    EXPECT_TRUE(hub.requests().empty());
}

TEST_F(SnapshotTest, NothingIsWrittenOutsideTheRepositoryFolder)
{
    hub.setListing(repoId, { "config.json", "../../escape.json" });
    EXPECT_THROW(client().snapshot(Repo(repoId), Names { "*" }), hub::UnsafePathError);
    EXPECT_TRUE(filesBelow(temporary / "downloads").empty());
    hub.clearFaults();

    // A symbolic link inside the repository folder does not carry files elsewhere.
    const auto outside = temporary / "outside";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(local());
    std::filesystem::create_directory_symlink(outside, local() / "openai_whisper-base");
    EXPECT_THROW(client().snapshot(Repo(repoId), Names { folderPattern }), hub::UnsafePathError);
    EXPECT_TRUE(filesBelow(outside).empty());

    const HubApi::HubFileDownloader direct { Repo(repoId), local(), "a/../../../escape", std::nullopt, hub.endpoint() };
    EXPECT_THROW(direct.download(), hub::UnsafePathError);
    EXPECT_FALSE(std::filesystem::exists(temporary / "escape"));
    EXPECT_TRUE(filesBelow(outside).empty());
}

TEST_F(SnapshotTest, EmptyMatchCreatesNothingAndReportsOnce)
{
    Recorder progress;
    const auto folder = client().snapshot(Repo(repoId), Names { "*.nothing" }, progress.handler());
    EXPECT_EQ(folder, local());
    EXPECT_FALSE(std::filesystem::exists(temporary / "downloads"));
    EXPECT_EQ(progress.totals, std::vector<std::int64_t> { 0 });
}

TEST_F(SnapshotTest, FileAddressesFollowTheRepositoryKindAndRedirects)
{
    HubApi::HubFileDownloader file { Repo("o/n"), downloadBase, "dir/a b#.json", std::nullopt, "http://127.0.0.1:9/" };
    EXPECT_EQ(file.source(), "http://127.0.0.1:9/o/n/resolve/main/dir/a%20b%23.json");
    file.repo = Repo("o/n", hub::RepoType::datasets);
    EXPECT_EQ(file.source(), "http://127.0.0.1:9/datasets/o/n/resolve/main/dir/a%20b%23.json");
    file.repo = Repo("o/n", hub::RepoType::spaces);
    EXPECT_EQ(file.source(), "http://127.0.0.1:9/spaces/o/n/resolve/main/dir/a%20b%23.json");
    file.endpoint = "::";
    EXPECT_THROW(file.source(), platform::NetError);

    // A file that moved on the server is fetched from its new place; the token goes along.
    publish(repoId, "moved/config.json", "{\"moved\": true}");
    hub.redirect(path(4), LoopbackHub::filePath(repoId, "moved/config.json"));
    const auto folder = client("t").snapshot(Repo(repoId), "*/config.json");
    EXPECT_EQ(testsupport::readFile(folder / files[4]), "{\"moved\": true}");
    for (const auto& request : hub.requests()) {
        EXPECT_EQ(request.authorization, "Bearer t") << request.path;
    }
}

// The steps the language-model configuration loader takes on its hub road.
TEST_F(SnapshotTest, ConfigurationFilesOfARepositoryDownloadAndRead)
{
    const std::string id = "openai/whisper-tiny";
    publish(id, "config.json", R"({"model_type": "whisper"})");
    publish(id, "tokenizer.json", R"({"model": {"type": "BPE"}})");
    publish(id, "nested/config.json", "{}");
    const HubApi api = client();
    const Names patterns { "config.json", "tokenizer_config.json", "tokenizer.json" };
    EXPECT_EQ(api.getFilenames(Repo(id), patterns), (Names { "config.json", "tokenizer.json" }));
    const auto folder = api.snapshot(Repo(id), patterns, [](const Progress&) {});
    EXPECT_EQ(folder, api.localRepoLocation(Repo(id)));
    EXPECT_EQ(filesBelow(folder), (Names { "config.json", "tokenizer.json" }));
    EXPECT_EQ(api.configuration(folder / "config.json")["modelType"]->stringValue(), "whisper");
}
