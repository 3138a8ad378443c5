#include "platform/net/HttpClient.hpp"
#include "platform/net/NetError.hpp"
#include "support/TemporaryDirectory.hpp"
#include "tools/loopback-hub/LoopbackHub.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using platform::HttpClient;
using platform::HttpRequest;
using platform::NetError;
using testsupport::TemporaryDirectory;

namespace {

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::writeFile(hub.repositoryFolder("o/n") / "small.txt", "hello, hub");
        content.resize(300'000);
        for (std::size_t i = 0; i < content.size(); ++i) {
            content[i] = static_cast<char>('a' + i % 26);
        }
        testsupport::writeFile(hub.repositoryFolder("o/n") / "big.bin", content);
        std::filesystem::create_directories(downloads);
        hub.start();
    }

    HttpRequest request(const std::string& path) const { return HttpRequest { hub.endpoint() + path }; }

    NetError::Code failure(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const NetError& error) {
            return error.code();
        }
        ADD_FAILURE() << "no NetError";
        return NetError::Code::unknown;
    }

    std::size_t entriesIn(const std::filesystem::path& folder) const
    {
        return static_cast<std::size_t>(std::distance(
            std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
    }

    TemporaryDirectory temporary;
    loopback::LoopbackHub hub { temporary / "hub" };
    std::filesystem::path downloads = temporary / "downloads";
    std::string content;
    const std::string small = loopback::LoopbackHub::filePath("o/n", "small.txt");
    const std::string big = loopback::LoopbackHub::filePath("o/n", "big.bin");
};

} // namespace

TEST_F(HttpClientTest, GetReturnsEveryStatusWithBodyAndSendsOnlyGivenHeaders)
{
    auto result = HttpClient::get(request(small));
    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(result.body, "hello, hub");
    EXPECT_EQ(result.response.header("content-type"), "application/octet-stream");
    EXPECT_EQ(result.response.expectedContentLength, 10);

    hub.failWithStatus(small, 503);
    result = HttpClient::get(request(small));
    EXPECT_EQ(result.response.statusCode, 503);
    EXPECT_FALSE(result.response.isSuccess());
    EXPECT_EQ(HttpClient::get(request("/o/n/resolve/main/missing")).response.statusCode, 404);

    HttpRequest withToken = request(small);
    withToken.headers.emplace_back("Authorization", "Bearer secret");
    HttpClient::get(withToken);
    const auto requests = hub.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_FALSE(requests[0].authorization);
    EXPECT_EQ(requests[3].authorization, "Bearer secret");

    HttpRequest limited = request(big);
    limited.maxBodyBytes = 1000;
    EXPECT_EQ(failure([&] { HttpClient::get(limited); }), NetError::Code::responseTooLarge);
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyToWebAddressesAndNotForever)
{
    hub.redirect("/moved", small);
    const auto result = HttpClient::get(request("/moved"));
    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(result.body, "hello, hub");
    EXPECT_EQ(result.response.url, hub.endpoint() + small);

    hub.redirect("/local", "file:///etc/passwd");
    EXPECT_EQ(failure([&] { HttpClient::get(request("/local")); }), NetError::Code::unsupportedURL);

    hub.redirect("/loop", "/loop");
    EXPECT_EQ(failure([&] { HttpClient::get(request("/loop")); }), NetError::Code::tooManyRedirects);

    EXPECT_EQ(failure([&] { HttpClient::get(HttpRequest { "file:///etc/passwd" }); }), NetError::Code::badURL);
    EXPECT_EQ(failure([&] { HttpClient::get(HttpRequest { "not a url" }); }), NetError::Code::badURL);
}

TEST_F(HttpClientTest, DownloadStreamsIntoAHiddenFileAndReportsProgress)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    auto result = HttpClient::download(request(big), downloads, [&](std::int64_t written, std::int64_t expected) {
        reports.emplace_back(written, expected);
    });
    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(result.file.path().parent_path(), downloads);
    EXPECT_EQ(result.file.path().filename().string().front(), '.');
    EXPECT_EQ(testsupport::readFile(result.file.path()), content);
    ASSERT_FALSE(reports.empty());
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GT(reports[i].first, reports[i - 1].first);
    }
    EXPECT_EQ(reports.back(), std::make_pair(std::int64_t(content.size()), std::int64_t(content.size())));

    result.file.commit(downloads / "big.bin");
    EXPECT_EQ(testsupport::readFile(downloads / "big.bin"), content);
    EXPECT_EQ(entriesIn(downloads), 1u);

    // Without a Content-Length the expected size is unknown.
    hub.omitContentLength(big);
    reports.clear();
    {
        auto chunked = HttpClient::download(request(big), downloads, [&](std::int64_t written, std::int64_t expected) {
            reports.emplace_back(written, expected);
        });
        EXPECT_EQ(testsupport::readFile(chunked.file.path()), content);
    }
    EXPECT_EQ(reports.back(), std::make_pair(std::int64_t(content.size()), std::int64_t(-1)));
    // An uncommitted file is removed with its result.
    EXPECT_EQ(entriesIn(downloads), 1u);
}

TEST_F(HttpClientTest, FailedDownloadsLeaveNoFileBehind)
{
    hub.dropConnectionAfter(big, 1000);
    EXPECT_EQ(failure([&] { HttpClient::download(request(big), downloads); }), NetError::Code::networkConnectionLost);
    hub.clearFaults();

    hub.omitContentLength(big);
    hub.dropConnectionAfter(big, 1000);
    EXPECT_EQ(failure([&] { HttpClient::download(request(big), downloads); }), NetError::Code::networkConnectionLost);
    hub.clearFaults();

    // A throwing progress handler ends the transfer with its own error.
    EXPECT_THROW(HttpClient::download(request(big), downloads, [](std::int64_t, std::int64_t) {
        throw std::logic_error("handler");
    }),
        std::logic_error);

    EXPECT_EQ(failure([&] { HttpClient::download(request(big), temporary / "absent"); }), NetError::Code::cannotCreateFile);
    EXPECT_EQ(entriesIn(downloads), 0u);
}

TEST_F(HttpClientTest, StalledTransfersEndAfterTheIdleTimeoutOrOnCancellation)
{
    hub.stallAfter(big, 1000);
    HttpRequest stalled = request(big);
    stalled.timeout = std::chrono::milliseconds(200);
    EXPECT_EQ(failure([&] { HttpClient::download(stalled, downloads); }), NetError::Code::timedOut);

    // Waiting for the response counts as idle too.
    hub.delay(small, std::chrono::seconds(30));
    HttpRequest slow = request(small);
    slow.timeout = std::chrono::milliseconds(200);
    EXPECT_EQ(failure([&] { HttpClient::get(slow); }), NetError::Code::timedOut);

    // Cancelled from the progress handler once data arrived; the idle timeout would take a minute.
    std::stop_source stop;
    EXPECT_EQ(failure([&] {
        HttpClient::download(request(big), downloads, [&](std::int64_t, std::int64_t) { stop.request_stop(); }, stop.get_token());
    }),
        NetError::Code::cancelled);

    std::stop_source early;
    early.request_stop();
    EXPECT_EQ(failure([&] { HttpClient::get(request(small), early.get_token()); }), NetError::Code::cancelled);
    EXPECT_EQ(entriesIn(downloads), 0u);
}

TEST_F(HttpClientTest, RefusedConnectionsFailAtOnce)
{
    const std::string endpoint = hub.endpoint();
    hub.stop();
    EXPECT_EQ(failure([&] { HttpClient::get(HttpRequest { endpoint + small }); }), NetError::Code::cannotConnectToHost);
}
