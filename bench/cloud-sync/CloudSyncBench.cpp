// Syncs a library of recordings from one client to another through a private PostgreSQL server:
// the first client's full sync uploads them all, the second's downloads them all, and a second
// sync of each finds nothing new. Prints seconds and MB/s (10^6 bytes) for each step.
#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/RecordingsManager.hpp"
#include "support/PostgresTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr char entitlements[] = R"({"com.apple.developer.icloud-container-identifiers": ["iCloud.com.OrvandaNote"]})";

struct Client {
    std::unique_ptr<platform::UserDefaults> defaults;
    std::unique_ptr<parlino::RecordingsManager> library;
    std::shared_ptr<parlino::CloudKitSyncManager> manager;
    std::shared_ptr<std::atomic<int>> failures = std::make_shared<std::atomic<int>>(0);
};

Client makeClient(const fs::path& root, const std::string& url)
{
    fs::create_directories(root / "tmp");
    testsupport::writeFile(root / "parlino.entitlements.json", entitlements);
    Client client;
    client.defaults = std::make_unique<platform::UserDefaults>(root / "parlino.conf");
    client.library = std::make_unique<parlino::RecordingsManager>(root / "Documents" / "Parlino");
    parlino::CloudKitSyncManager::Environment environment;
    environment.configuration.url = url;
    environment.configuration.assetCacheFolder = root / "cache";
    environment.entitlementsFile = root / "parlino.entitlements.json";
    environment.defaults = client.defaults.get();
    environment.temporaryFolder = root / "tmp";
    environment.clock = [] { return QDateTime::currentDateTimeUtc(); };
    // Only failures are worth showing among thousands of lines.
    environment.log = [failures = client.failures](const std::string& line) {
        if (line.starts_with("❌")) {
            failures->fetch_add(1);
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    };
    client.manager = std::make_shared<parlino::CloudKitSyncManager>(std::move(environment));
    client.library->setCloudSync(client.manager);
    return client;
}

double timedSync(Client& client)
{
    bool done = false;
    const auto start = Clock::now();
    client.library->syncWithCloud([&] { done = true; });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* step, double seconds, double megabytes)
{
    std::printf("%-28s %8.2f s", step, seconds);
    if (megabytes > 0) {
        std::printf("  %8.2f MB/s", megabytes / seconds);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int kilobytes = argc > 2 ? std::atoi(argv[2]) : 100;
    if (count <= 0 || kilobytes <= 0) {
        std::fprintf(stderr, "usage: cloud-sync-bench [recordings=1000] [kilobytes=100]\n");
        return 2;
    }
    std::string whyNot;
    if (!testsupport::PostgresTestServer::available(whyNot)) {
        std::fprintf(stderr, "skipped: %s\n", whyNot.c_str());
        return 0;
    }
    // The library's own lines go to standard output; keep them out of the report.
    std::fflush(stdout);
    QCoreApplication application(argc, argv);
    const auto server = testsupport::PostgresTestServer::start();
    testsupport::TemporaryDirectory temporary;

    Client a = makeClient(temporary / "a", server->url());
    Client b = makeClient(temporary / "b", server->url());

    std::mt19937 random(1);
    const std::size_t bytes = static_cast<std::size_t>(kilobytes) * 1000;
    std::string audio(bytes, '\0');
    for (int index = 0; index < count; ++index) {
        for (char& byte : audio) {
            byte = static_cast<char>(random());
        }
        const fs::path file = a.library->documentsURL() / ("recording-" + std::to_string(index) + ".m4a");
        testsupport::writeFile(file, audio);
        parlino::Recording recording;
        recording.id = QUuid::createUuid();
        recording.audioURL = file;
        recording.title = QStringLiteral("Recording %1").arg(index);
        recording.transcription = QStringLiteral("Words of recording %1").arg(index);
        recording.duration = 6.25;
        recording.date = QDateTime::currentDateTimeUtc().addSecs(-index);
        a.library->appendDownloadedRecording(recording);
    }
    const double megabytes = static_cast<double>(bytes) * count / 1e6;

    const double upload = timedSync(a);
    const double download = timedSync(b);
    const double idleA = timedSync(a);
    const double idleB = timedSync(b);

    bool complete = b.library->recordings().size() == static_cast<qsizetype>(count);
    for (const parlino::Recording& recording : b.library->recordings()) {
        std::error_code error;
        complete = complete && fs::file_size(recording.audioURL, error) == bytes && !error;
    }
    std::fflush(stdout);
    std::printf("\n%d recordings of %d KB (%.1f MB) between two clients\n", count, kilobytes, megabytes);
    report("A full sync (uploads)", upload, megabytes);
    report("B full sync (downloads)", download, megabytes);
    report("A sync, nothing new", idleA, 0);
    report("B sync, nothing new", idleB, 0);
    std::printf("B holds %lld recordings%s\n", static_cast<long long>(b.library->recordings().size()),
                complete ? ", every file complete" : ", INCOMPLETE");
    return complete && *a.failures == 0 && *b.failures == 0 ? 0 : 1;
}
