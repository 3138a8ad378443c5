#pragma once

#include "LibraryFixture.hpp"

#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "platform/cloud/CloudAdministration.hpp"
#include "platform/cloud/Container.hpp"

#include "qtsupport/QtTestSupport.hpp"
#include "support/PostgresTestServer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace cloudsynctest {

// Every line a manager logs, from whichever thread.
class LogLines {
public:
    void add(const std::string& line)
    {
        std::function<void(const std::string&)> told;
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
            told = heard_;
        }
        if (told) {
            told(line);
        }
    }
    // Hears every line as it is added, on the thread that adds it.
    void onLine(std::function<void(const std::string&)> heard)
    {
        std::lock_guard lock(mutex_);
        heard_ = std::move(heard);
    }
    std::size_t size() const
    {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    std::vector<std::string> since(std::size_t mark) const
    {
        std::lock_guard lock(mutex_);
        return {lines_.begin() + static_cast<std::ptrdiff_t>(std::min(mark, lines_.size())), lines_.end()};
    }
    std::vector<std::string> all() const { return since(0); }
    bool contains(const std::string& line) const
    {
        const auto lines = all();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

private:
    std::function<void(const std::string&)> heard_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline constexpr char validEntitlements[]
    = R"({"com.apple.developer.icloud-container-identifiers": ["iCloud.com.OrvandaNote"]})";

// One installation: its own library folder, settings, caches and log.
struct Client {
    std::filesystem::path root;
    std::unique_ptr<platform::UserDefaults> defaults;
    std::unique_ptr<parlino::RecordingsManager> library;
    std::shared_ptr<parlino::CloudKitSyncManager> manager;
    std::shared_ptr<LogLines> log = std::make_shared<LogLines>();

    std::filesystem::path folder() const { return library->documentsURL(); }
    std::filesystem::path temporaryFolder() const { return root / "tmp"; }
};

struct ClientOptions {
    // Nullopt: the test server's, when the test has one.
    std::optional<std::string> url;
    bool withoutAccount = false;
    std::size_t changesBatchSize = platform::cloud::CloudConfiguration::defaultChangesBatchSize;
    std::int64_t maxAssetBytes = platform::cloud::CloudConfiguration::defaultMaxAssetBytes;
    // Nullopt: no file at all.
    std::optional<std::string> entitlements = std::string(validEntitlements);
    // The manager is made but not given to the library.
    bool attachToLibrary = true;
};

// Any number of clients, of the test's private server when it has one, in a fresh XDG tree.
class CloudClientTest : public librarytest::LibraryFixture {
protected:

    platform::cloud::CloudConfiguration configuration(const std::string& cacheName = "test-cache") const
    {
        platform::cloud::CloudConfiguration result;
        result.url = server->url();
        result.assetCacheFolder = root() / cacheName;
        return result;
    }

    // The store as an administrator (or another program) sees it.
    platform::cloud::Database database() const
    {
        return platform::cloud::Container(parlino::CloudKitSyncManager::containerIdentifier, configuration())
            .privateCloudDatabase();
    }

    std::unique_ptr<Client> makeClient(const std::string& name, const ClientOptions& options = {})
    {
        auto client = std::make_unique<Client>();
        client->root = root() / name;
        std::filesystem::create_directories(client->temporaryFolder());
        client->defaults = std::make_unique<platform::UserDefaults>(client->root / "parlino.conf");
        client->library = std::make_unique<parlino::RecordingsManager>(client->root / "Documents" / "Parlino");
        client->manager = makeManager(*client, options);
        if (options.attachToLibrary) {
            client->library->setCloudSync(client->manager);
        }
        return client;
    }

    // A new manager for the client, as a later launch of the program makes it.
    std::shared_ptr<parlino::CloudKitSyncManager> makeManager(Client& client, const ClientOptions& options = {})
    {
        parlino::CloudKitSyncManager::Environment environment;
        if (!options.withoutAccount) {
            environment.configuration.url = options.url ? options.url : server ? std::optional(server->url()) : std::nullopt;
        }
        environment.configuration.assetCacheFolder = client.root / "cache";
        environment.configuration.changesBatchSize = options.changesBatchSize;
        environment.configuration.maxAssetBytes = options.maxAssetBytes;
        // Short limits, so a frozen server ends a test's sync soon.
        environment.configuration.connectTimeout = std::chrono::seconds(2);
        environment.configuration.statementTimeout = std::chrono::seconds(5);
        environment.configuration.requestTimeout = std::chrono::seconds(3);
        environment.entitlementsFile = client.root / "parlino.entitlements.json";
        std::filesystem::remove(*environment.entitlementsFile);
        if (options.entitlements) {
            testsupport::writeFile(*environment.entitlementsFile, *options.entitlements);
        }
        environment.defaults = client.defaults.get();
        environment.temporaryFolder = client.temporaryFolder();
        environment.clock = [ticks = ticks_] {
            return QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC).addSecs(ticks->fetch_add(1));
        };
        environment.log = [log = client.log](const std::string& line) { log->add(line); };
        return std::make_shared<parlino::CloudKitSyncManager>(std::move(environment));
    }

    // Distinct bytes per file, standing in for the recorder's audio.
    static void writeRandomAudio(const std::filesystem::path& path, std::size_t bytes = 20000)
    {
        static std::mt19937 generator(7);
        std::string contents(bytes, '\0');
        for (char& byte : contents) {
            byte = static_cast<char>(generator());
        }
        testsupport::writeFile(path, contents);
    }

    // Saves a recording through the library and waits for its upload to end.
    static parlino::Recording save(Client& client, const QString& title, const QString& transcription = {})
    {
        const auto audio = client.folder() / (title.toStdString() + ".m4a");
        writeRandomAudio(audio);
        parlino::RecordingResult result;
        result.audioURL = audio;
        result.transcription = transcription;
        result.duration = 2.5;
        result.generatedTitle = title;
        const parlino::Recording saved = client.library->saveRecording(result);
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return !client.manager->isSyncing(); }));
        return saved;
    }

    // One full sync through the library, waited for.
    static void sync(Client& client)
    {
        bool done = false;
        client.library->syncWithCloud([&] { done = true; });
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return done; }));
    }

    static std::exception_ptr upload(Client& client, const parlino::Recording& recording)
    {
        bool done = false;
        std::exception_ptr failure;
        client.manager->uploadRecording(recording, [&](std::exception_ptr error, parlino::CloudSync::UploadOutcome) {
            failure = error;
            done = true;
        });
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return done; }));
        return failure;
    }

    static std::string recordName(const parlino::Recording& recording)
    {
        return parlino::CloudRecordStore::recordName(recording.id);
    }

    std::unique_ptr<testsupport::PostgresTestServer> server;

private:
    std::shared_ptr<std::atomic<int>> ticks_ = std::make_shared<std::atomic<int>>(0);
};

// A private server per test; tests skip where no server can run.
class CloudSyncTest : public CloudClientTest {
protected:
    void SetUp() override
    {
        std::string whyNot;
        if (!testsupport::PostgresTestServer::available(whyNot)) {
            GTEST_SKIP() << whyNot;
        }
        server = testsupport::PostgresTestServer::start();
    }
};

} // namespace cloudsynctest
