#include "Hub/Downloader.hpp"
#include "Hub/Repo.hpp"
#include "LoopbackFixture.hpp"
#include "platform/net/NetError.hpp"

using hub::Downloader;
using hub::HubClientError;
using State = Downloader::DownloadState;
using loopback::LoopbackHub;

namespace {

class DownloaderTest : public LoopbackFixture {
protected:
    void SetUp() override
    {
        LoopbackFixture::SetUp();
        content.assign(200'000, 'x');
        publish("o/n", "weights.bin", content);
        std::filesystem::create_directories(folder);
    }

    std::string url(const std::string& file = "weights.bin") const { return hub.endpoint() + LoopbackHub::filePath("o/n", file); }

    std::string content;
    std::filesystem::path folder = temporary / "place";
    std::filesystem::path destination = folder / "weights.bin";
    const std::string path = LoopbackHub::filePath("o/n", "weights.bin");
};

} // namespace

TEST_F(DownloaderTest, CompletedTransferReplacesTheDestinationAndReportsFractions)
{
    testsupport::writeFile(destination, "old contents");
    Downloader downloader(url(), destination, std::string("token"));
    std::vector<double> fractions;
    auto subscription = downloader.downloadState().subscribe([&](const State& state) {
        if (state.kind == State::Kind::downloading) {
            fractions.push_back(state.fraction);
        }
    });
    EXPECT_EQ(downloader.waitUntilDone(), destination);
    // The state is final already: the second wait returns at once.
    EXPECT_EQ(downloader.waitUntilDone(), destination);
    subscription.cancel();
    EXPECT_EQ(testsupport::readFile(destination), content);
    EXPECT_EQ(filesBelow(folder), (std::vector<std::string> { "weights.bin" }));
    ASSERT_FALSE(fractions.empty());
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_EQ(hub.requests().back().authorization, "Bearer token");
}

TEST_F(DownloaderTest, ErrorStatusesAndBrokenTransfersNeverReachTheDestination)
{
    hub.failWithStatus(path, 404);
    {
        Downloader downloader(url(), destination);
        const auto error = caught<HubClientError>([&] { downloader.waitUntilDone(); });
        EXPECT_EQ(error.kind(), HubClientError::Kind::authorizationRequired);
    }
    hub.failWithStatus(path, 500);
    {
        Downloader downloader(url(), destination);
        const auto error = caught<HubClientError>([&] { downloader.waitUntilDone(); });
        EXPECT_EQ(error.kind(), HubClientError::Kind::httpStatusCode);
        EXPECT_EQ(error.statusCode(), 500);
        EXPECT_EQ(downloader.downloadState().value().kind, State::Kind::failed);
    }
    hub.clearFaults();
    hub.dropConnectionAfter(path, 5000);
    {
        Downloader downloader(url(), destination);
        const auto error = caught<platform::NetError>([&] { downloader.waitUntilDone(); });
        EXPECT_EQ(error.code(), platform::NetError::Code::networkConnectionLost);
    }
    {
        Downloader downloader(url(), temporary / "absent" / "weights.bin");
        EXPECT_THROW(downloader.waitUntilDone(), platform::NetError);
    }
    EXPECT_TRUE(filesBelow(folder).empty());
}

TEST_F(DownloaderTest, UnknownSizesKeepFractionsWithinZeroAndOne)
{
    publish("o/n", "empty.bin", "");
    hub.omitContentLength(path);
    for (const auto& file : { std::string("weights.bin"), std::string("empty.bin") }) {
        Downloader downloader(url(file), folder / file);
        std::vector<double> fractions;
        auto subscription = downloader.downloadState().subscribe([&](const State& state) {
            if (state.kind == State::Kind::downloading) {
                fractions.push_back(state.fraction);
            }
        });
        downloader.waitUntilDone();
        subscription.cancel();
        for (const double fraction : fractions) {
            EXPECT_TRUE(fraction >= 0 && fraction <= 1) << fraction;
        }
    }
    EXPECT_EQ(testsupport::readFile(destination), content);
    EXPECT_EQ(testsupport::readFile(folder / "empty.bin"), "");
}

TEST_F(DownloaderTest, RunningTransferIsNotStartedTwiceAndEndsWithItsOwner)
{
    {
        Downloader downloader(url(), destination);
        bool askedAgain = false;
        // Asked again from inside the transfer, while it certainly runs.
        auto subscription = downloader.downloadState().subscribe([&](const State& state) {
            if (state.kind == State::Kind::downloading && state.fraction > 0 && !askedAgain) {
                askedAgain = true;
                downloader.download(url(), std::nullopt);
            }
        });
        downloader.waitUntilDone();
        subscription.cancel();
        EXPECT_TRUE(askedAgain);
    }
    EXPECT_EQ(requestsTo(path), 1u);

    // Asked again after it finished, it transfers again.
    {
        Downloader downloader(url(), destination);
        downloader.waitUntilDone();
        downloader.download(url(), std::nullopt);
        downloader.waitUntilDone();
    }
    EXPECT_EQ(requestsTo(path), 3u);

    // Destroying the owner of a stalled transfer cancels it instead of waiting a minute.
    hub.stallAfter(path, 1000);
    {
        Downloader stalled(url(), destination);
    }
    EXPECT_EQ(filesBelow(folder), (std::vector<std::string> { "weights.bin" }));
}
