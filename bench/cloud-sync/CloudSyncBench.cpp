// Syncs recordings between clients through private PostgreSQL servers and prints what the sync
// costs: seconds and MB/s (10^6 bytes) of each step, the peak resident size of this process during
// the first upload and the first download, the most disk the download's scratch files held at once,
// the longest time the main thread was held, and the merge of 10,000 downloads into a library that
// holds 10,000 recordings already.
#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/CloudScratchFiles.hpp"
#include "app/library/RecordingsListModel.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/ui/recordings/RecordingsFilter.hpp"
#include "support/PostgresTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr char entitlements[] = R"({"com.apple.developer.icloud-container-identifiers": ["iCloud.com.OrvandaNote"]})";

// The library's own lines go to standard output; the report alone should.
class QuietConsole {
public:
    QuietConsole()
    {
        std::fflush(stdout);
        saved_ = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietConsole()
    {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    int saved_ = -1;
};

struct Client {
    std::unique_ptr<platform::UserDefaults> defaults;
    std::unique_ptr<parlino::RecordingsManager> library;
    // As the window's list follows the library.
    std::unique_ptr<parlino::RecordingsListModel> model;
    std::shared_ptr<parlino::CloudKitSyncManager> manager;
    fs::path cache;
    fs::path uploads;
    std::shared_ptr<std::atomic<int>> failures = std::make_shared<std::atomic<int>>(0);
};

Client makeClient(const fs::path& root, const std::string& url)
{
    const QuietConsole quiet;
    fs::create_directories(root);
    testsupport::writeFile(root / "parlino.entitlements.json", entitlements);
    Client client;
    client.defaults = std::make_unique<platform::UserDefaults>(root / "parlino.conf");
    client.library = std::make_unique<parlino::RecordingsManager>(root / "Documents" / "Parlino");
    client.model = std::make_unique<parlino::RecordingsListModel>(*client.library);
    client.cache = root / "cache";
    client.uploads = root / "uploads";
    parlino::CloudKitSyncManager::Environment environment;
    environment.configuration.url = url;
    environment.configuration.assetCacheFolder = client.cache;
    environment.entitlementsFile = root / "parlino.entitlements.json";
    environment.defaults = client.defaults.get();
    environment.temporaryFolder = client.uploads;
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

double mainThreadCPUSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The longest stretch the main thread went without running its timers, and how much of it the
// thread spent computing (the rest it waited: for the disk, or for a core on a busy machine).
class MainThreadHold {
public:
    MainThreadHold()
    {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            const double cpu = mainThreadCPUSeconds();
            if (now - last_ > longest_) {
                longest_ = now - last_;
                longestCPU_ = cpu - lastCPU_;
            }
            last_ = now;
            lastCPU_ = cpu;
        });
    }
    void start()
    {
        longest_ = {};
        longestCPU_ = 0;
        last_ = Clock::now();
        lastCPU_ = mainThreadCPUSeconds();
        timer_.start();
    }
    // "<wall> ms (<cpu> ms computing)"
    std::string stop()
    {
        timer_.stop();
        char text[64];
        std::snprintf(text, sizeof text, "%6.1f ms (%.1f ms computing)",
                      std::chrono::duration<double, std::milli>(longest_).count(), longestCPU_ * 1000);
        return text;
    }

private:
    QTimer timer_;
    Clock::time_point last_;
    double lastCPU_ = 0;
    Clock::duration longest_ {};
    double longestCPU_ = 0;
};

double timedSync(Client& client, MainThreadHold* hold = nullptr)
{
    bool done = false;
    if (hold) {
        hold->start();
    }
    const auto start = Clock::now();
    client.library->syncWithCloud([&] { done = true; });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident size since the last reset, in MiB.
double peakResidentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
    }
    return -1;
}

void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::uintmax_t bytesIn(const fs::path& folder, bool onlyDownloadTemporaries)
{
    std::uintmax_t total = 0;
    std::error_code error;
    for (fs::directory_iterator entries(folder, error), end; !error && entries != end; entries.increment(error)) {
        std::error_code sizeError;
        if (onlyDownloadTemporaries
            && !parlino::CloudScratchFiles::isDownloadTemporary(entries->path().filename().string())) {
            continue;
        }
        const auto size = entries->file_size(sizeError);
        total += sizeError ? 0 : size;
    }
    return total;
}

// The most bytes the sync's scratch files held at once: the asset cache, the upload copies and the
// hidden files written into the library before their rename.
class ScratchWatch {
public:
    explicit ScratchWatch(const Client& client)
        : thread_([this, cache = client.cache, uploads = client.uploads, library = client.library->documentsURL()] {
            while (!stop_) {
                const auto now = bytesIn(cache, false) + bytesIn(uploads, false) + bytesIn(library, true);
                most_ = std::max<std::uintmax_t>(most_, now);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        })
    {
    }
    ~ScratchWatch() { stop(); }
    double stopMegabytes()
    {
        stop();
        return static_cast<double>(most_.load()) / 1e6;
    }

private:
    void stop()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::atomic<bool> stop_ {false};
    std::atomic<std::uintmax_t> most_ {0};
    std::thread thread_;
};

std::string randomBytes(std::mt19937& random, std::size_t bytes)
{
    std::string data(bytes, '\0');
    for (char& byte : data) {
        byte = static_cast<char>(random());
    }
    return data;
}

parlino::Recording makeRecording(const fs::path& file, int index)
{
    parlino::Recording recording;
    recording.id = QUuid::createUuid();
    recording.audioURL = file;
    recording.title = QStringLiteral("Recording %1").arg(index);
    recording.transcription = QStringLiteral("Words of recording %1").arg(index);
    recording.duration = 6.25;
    recording.date = QDateTime::currentDateTimeUtc().addSecs(-index);
    return recording;
}

// Fills a library with recordings whose audio is `bytesEach` random bytes (and one of `largeBytes`
// when not 0), in one change of its list.
void fillLibrary(Client& client, int count, std::size_t bytesEach, std::size_t largeBytes, std::mt19937& random)
{
    std::vector<parlino::RecordingsManager::DownloadedRecording> recordings;
    for (int index = 0; index < count + (largeBytes > 0 ? 1 : 0); ++index) {
        const fs::path file = client.library->documentsURL() / ("recording-" + std::to_string(index) + ".m4a");
        testsupport::writeFile(file, randomBytes(random, index < count ? bytesEach : largeBytes));
        recordings.push_back({makeRecording(file, index)});
    }
    client.library->appendDownloadedRecordings(recordings);
}

bool complete(const Client& from, const Client& to)
{
    if (to.library->recordings().size() != from.library->recordings().size()) {
        return false;
    }
    for (const parlino::Recording& recording : from.library->recordings()) {
        const auto there = to.library->recording(recording.id);
        std::error_code error;
        if (!there || fs::file_size(there->audioURL, error) != fs::file_size(recording.audioURL) || error) {
            return false;
        }
    }
    return true;
}

void report(const char* step, double seconds, double megabytes)
{
    std::printf("%-34s %8.2f s", step, seconds);
    if (megabytes > 0) {
        std::printf("  %8.2f MB/s", megabytes / seconds);
    }
    std::printf("\n");
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// As the sync hands a batch to the library.
constexpr int mergeSlice = 200;

struct MergeTimes {
    double seconds = 0;
    double longestMilliseconds = 0;
};

// The library's part alone, without network or disk, with the recordings pane's filtered list
// following it: `count` downloaded recordings go into a library of as many, a slice at a time. The library's own are in local time as the program saves
// them, the downloaded ones in UTC as the sync makes them, their dates interleaved.
MergeTimes timeMerge(const fs::path& root, int count)
{
    parlino::RecordingsManager library(root);
    parlino::RecordingsListModel model(library);
    // The recordings pane's list: its filter follows every change of the library and filters again.
    parlino::RecordingsFilter filter(model, nullptr);
    QObject::connect(&library, &parlino::LibraryService::recordingsChanged, &filter,
                     [&filter] {
                         filter.setCriteria(std::nullopt, QString());
                         // As the pane's count line asks, which makes the filter run.
                         filter.rowCount();
                     });
    const QDateTime start = QDateTime::currentDateTime();
    const auto recording = [&](int index, const QDateTime& date) {
        parlino::Recording made = makeRecording(library.documentsURL() / ("r-" + std::to_string(index) + ".m4a"), index);
        made.date = date;
        return parlino::RecordingsManager::DownloadedRecording {made, parlino::RecordingsManager::DownloadedSidecar::written};
    };
    std::vector<parlino::RecordingsManager::DownloadedRecording> local;
    for (int index = 0; index < count; ++index) {
        local.push_back(recording(index, start.addSecs(-2 * index)));
    }
    library.appendDownloadedRecordings(local);
    std::vector<parlino::RecordingsManager::DownloadedRecording> downloaded;
    for (int index = 0; index < count; ++index) {
        downloaded.push_back(recording(count + index, start.addSecs(-2 * index - 1).toUTC()));
    }
    MergeTimes times;
    const auto begin = Clock::now();
    for (std::size_t from = 0; from < downloaded.size(); from += mergeSlice) {
        const auto sliceStart = Clock::now();
        library.appendDownloadedRecordings(
            {downloaded.begin() + static_cast<std::ptrdiff_t>(from),
             downloaded.begin() + static_cast<std::ptrdiff_t>(std::min(downloaded.size(), from + mergeSlice))});
        times.longestMilliseconds = std::max(
            times.longestMilliseconds, std::chrono::duration<double, std::milli>(Clock::now() - sliceStart).count());
    }
    times.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    if (library.recordings().size() != 2 * static_cast<qsizetype>(count)) {
        times.seconds = -1;
    }
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 2500;
    const int kilobytes = argc > 2 ? std::atoi(argv[2]) : 100;
    const int largeMegabytes = argc > 3 ? std::atoi(argv[3]) : 250;
    const int mergeCount = argc > 4 ? std::atoi(argv[4]) : 10000;
    if (count <= 0 || kilobytes <= 0 || largeMegabytes < 0 || mergeCount < 0) {
        std::fprintf(stderr, "usage: cloud-sync-bench [recordings=2500] [kilobytes=100] [large-megabytes=250] "
                             "[merge-recordings=10000]\n");
        return 2;
    }
    std::string whyNot;
    if (!testsupport::PostgresTestServer::available(whyNot)) {
        std::fprintf(stderr, "skipped: %s\n", whyNot.c_str());
        return 0;
    }
    QCoreApplication application(argc, argv);
    testsupport::TemporaryDirectory temporary;
    std::mt19937 random(1);
    MainThreadHold hold;
    bool allWell = true;

    {
        const auto server = testsupport::PostgresTestServer::start();
        Client a = makeClient(temporary / "a", server->url());
        Client b = makeClient(temporary / "b", server->url());
        const std::size_t bytes = static_cast<std::size_t>(kilobytes) * 1000;
        const std::size_t largeBytes = static_cast<std::size_t>(largeMegabytes) * 1000 * 1000;
        double upload = 0, download = 0, idleA = 0, idleB = 0, peakUpload = 0, peakDownload = 0, scratch = 0;
        std::string downloadHold;
        {
            const QuietConsole quiet;
            fillLibrary(a, count, bytes, largeBytes, random);
            resetPeakResident();
            upload = timedSync(a);
            peakUpload = peakResidentMiB();
            resetPeakResident();
            ScratchWatch watch(b);
            download = timedSync(b, &hold);
            downloadHold = hold.stop();
            scratch = watch.stopMegabytes();
            peakDownload = peakResidentMiB();
            idleA = timedSync(a);
            idleB = timedSync(b);
        }
        const bool whole = complete(a, b) && *a.failures == 0 && *b.failures == 0;
        allWell = allWell && whole;
        const double megabytes = (static_cast<double>(bytes) * count + static_cast<double>(largeBytes)) / 1e6;
        std::printf("\n%d recordings of %d KB and one of %d MB (%.1f MB) between two clients; load average %s\n", count,
                    kilobytes, largeMegabytes, megabytes, loadAverage().c_str());
        report("A first sync (uploads)", upload, megabytes);
        report("B first sync (downloads)", download, megabytes);
        report("A sync, nothing new", idleA, 0);
        report("B sync, nothing new", idleB, 0);
        std::printf("peak resident, A's uploads           %8.1f MiB\n", peakUpload);
        std::printf("peak resident, B's downloads         %8.1f MiB\n", peakDownload);
        std::printf("most scratch disk during B's sync    %8.1f MB\n", scratch);
        std::printf("longest main-thread hold, B's sync   %s\n", downloadHold.c_str());
        std::printf("B holds %lld recordings%s\n", static_cast<long long>(b.library->recordings().size()),
                    whole ? ", every file complete" : ", INCOMPLETE");
    }

    if (mergeCount > 0) {
        const auto server = testsupport::PostgresTestServer::start();
        Client source = makeClient(temporary / "source", server->url());
        Client empty = makeClient(temporary / "empty", server->url());
        Client full = makeClient(temporary / "full", server->url());
        double fill = 0, intoEmpty = 0, intoFull = 0, fullMainCPU = 0;
        std::string emptyHold, fullHold;
        MergeTimes mergeAlone;
        {
            const QuietConsole quiet;
            fillLibrary(source, mergeCount, 1000, 0, random);
            fill = timedSync(source);
            intoEmpty = timedSync(empty, &hold);
            emptyHold = hold.stop();
            // A library of as many recordings of its own, none of them in the cloud: only what
            // comes down is timed, so it syncs without its own list to upload.
            fillLibrary(full, mergeCount, 1, 0, random);
            bool done = false;
            hold.start();
            const double cpuBefore = mainThreadCPUSeconds();
            const auto start = Clock::now();
            full.manager->performFullSync({}, full.library.get(), [&](std::exception_ptr) { done = true; });
            while (!done) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            intoFull = std::chrono::duration<double>(Clock::now() - start).count();
            fullHold = hold.stop();
            fullMainCPU = mainThreadCPUSeconds() - cpuBefore;
            mergeAlone = timeMerge(temporary / "merge", mergeCount);
        }
        const bool merged = full.library->recordings().size() == 2 * static_cast<qsizetype>(mergeCount)
            && complete(source, empty) && *full.failures == 0 && *empty.failures == 0;
        allWell = allWell && merged && mergeAlone.seconds >= 0;
        std::printf("\n%d recordings of 1 KB merged into libraries; load average %s\n", mergeCount, loadAverage().c_str());
        report("uploads to fill the store", fill, 0);
        report("download into an empty library", intoEmpty, 0);
        report("download into a full library", intoFull, 0);
        std::printf("longest main-thread hold, empty      %s\n", emptyHold.c_str());
        std::printf("longest main-thread hold, full       %s\n", fullHold.c_str());
        std::printf("main-thread CPU, full                %8.2f s\n", fullMainCPU);
        std::printf("merge alone, %d into %d        %8.2f s (slices of %d, longest %.1f ms)\n", mergeCount,
                    mergeCount, mergeAlone.seconds, mergeSlice, mergeAlone.longestMilliseconds);
        std::printf("the full library holds %lld recordings%s\n", static_cast<long long>(full.library->recordings().size()),
                    merged ? "" : ", WRONG");
    }
    return allWell ? 0 : 1;
}
