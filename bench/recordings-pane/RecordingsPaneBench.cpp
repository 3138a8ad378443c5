// What opening the Recordings pane costs in a large library, and what oversized files cost at
// start-up. Figures on standard error; the library's own lines go to standard output.
//
// The pane: COUNT (default 50,000) recordings with sidecars, loaded once as at start-up. Then each
// opening as the pane used to make it (a load on the main thread) and as it makes it now (a
// refresh scanned on a worker), with nothing changed and with one new recording. For each: the
// longest time the main thread could not turn its event loop, and the time until the list stood.
//
// The files: a settings file of 100 MB and a sidecar of 200 MB (a 200 MB transcript), each read
// in a process of its own, with its time and that process's peak resident memory.
#include "app/library/RecordingsManager.hpp"
#include "platform/settings/UserDefaults.hpp"
#include "support/AudioFixtures.hpp"
#include "support/BenchFigures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Opening {
    double longestBlock = 0;
    double toList = 0;
};

// Runs `open` and turns the event loop until the library has loaded, with a 1 ms heartbeat whose
// longest gap is the longest the main thread was held.
Opening timeOpening(parlino::RecordingsManager& library, const std::function<void()>& open)
{
    Opening opening;
    auto last = Clock::now();
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        opening.longestBlock = std::max(opening.longestBlock, std::chrono::duration<double>(now - last).count());
        last = now;
    });
    heartbeat.start();
    const auto start = Clock::now();
    last = start;
    open();
    opening.longestBlock = std::max(opening.longestBlock, secondsSince(last));
    last = Clock::now();
    while (library.isLoading()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    opening.toList = secondsSince(start);
    opening.longestBlock = std::max(opening.longestBlock, secondsSince(last));
    return opening;
}

void report(const char* what, const Opening& opening)
{
    std::fprintf(stderr, "  %-44s main thread blocked at most %7.3f s, listed after %7.3f s\n", what,
        opening.longestBlock, opening.toList);
}

testsupport::ChildRun timedChild(const char* what, const std::function<void()>& work)
{
    const auto run = testsupport::runInChild([&] {
        const auto start = Clock::now();
        work();
        std::fprintf(stderr, "  %-44s %.2f s", what, secondsSince(start));
        return 0;
    });
    std::fprintf(stderr, ", peak resident %.0f MiB\n", run.peakResidentMiB);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50000;
    testsupport::TemporaryDirectory root;
    const std::filesystem::path folder = root.path() / "Parlino";
    std::filesystem::create_directories(folder);
    const std::filesystem::path model = root.path() / "model.m4a";
    testsupport::writeAudioFile(model, 16000, {testsupport::noise(16000, 0.3f)});
    const std::string loadBefore = testsupport::loadAverage();

    std::fprintf(stderr, "oversized files:\n");
    const std::filesystem::path settings = root.path() / "parlino.conf";
    {
        std::ofstream file(settings);
        file << "[General]\nwhisperModel=base\nfiller=" << std::string(100'000'000, 'x') << "\n";
    }
    const auto settingsRun = timedChild("settings file of 100 MB opened:", [&] {
        platform::UserDefaults defaults(settings);
        std::fprintf(stderr, "  (model read: %s)\n", defaults.stringValue(QStringLiteral("whisperModel"), QStringLiteral("default")).toStdString().c_str());
    });
    const std::filesystem::path big = root.path() / "Big";
    std::filesystem::create_directories(big);
    std::filesystem::copy_file(model, big / "2025-01-01_0900_Big.m4a");
    {
        std::ofstream file(big / "2025-01-01_0900_Big.json");
        file << R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","audioURL":"file://)" << (big / "2025-01-01_0900_Big.m4a").string()
             << R"(","title":"Big","transcription":")" << std::string(200'000'000, 'w')
             << R"(","duration":1,"date":"2025-01-01T09:00:00Z","category":"Personal"})";
    }
    const auto sidecarRun = timedChild("library with a 200 MB sidecar loaded:", [&] {
        parlino::RecordingsManager library(big);
        library.loadRecordings();
        std::fprintf(stderr, "  (%lld listed)\n", static_cast<long long>(library.recordings().size()));
    });

    QCoreApplication app(argc, argv);
    // Links take no room: the names are what the library lists.
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "2025-01-%02d_%02d%02d_Recording-%05d.m4a", 1 + i % 28, i / 60 % 24, i % 60, i);
        std::filesystem::create_hard_link(model, folder / name);
    }
    parlino::RecordingsManager library(folder);
    library.loadRecordings();
    std::fprintf(stderr, "the Recordings pane opened in a library of %lld recordings:\n",
        static_cast<long long>(library.recordings().size()));
    Opening before;
    Opening after;
    for (int run = 0; run < 3; ++run) {
        const Opening loaded = timeOpening(library, [&] { library.loadRecordings(); });
        report("before (a load on the main thread):", loaded);
        const Opening refreshed = timeOpening(library, [&] { library.refreshRecordings(); });
        report("after, nothing changed (a refresh):", refreshed);
        if (run == 0 || loaded.longestBlock < before.longestBlock) {
            before = loaded;
        }
        if (run == 0 || refreshed.longestBlock < after.longestBlock) {
            after = refreshed;
        }
    }
    std::filesystem::create_hard_link(model, folder / "2025-02-01_0900_New-one.m4a");
    const Opening changed = timeOpening(library, [&] { library.refreshRecordings(); });
    report("after, one new recording (a refresh):", changed);
    std::fprintf(stderr, "  listed: %lld, peak resident %.0f MiB\n", static_cast<long long>(library.recordings().size()),
        testsupport::peakResidentMiB());
    std::fprintf(stderr, "load average before: %s, after: %s\n", loadBefore.c_str(), testsupport::loadAverage().c_str());
    // Goals: an opening holds the main thread no longer than a frame or two, and an oversized file
    // costs no more memory than a small library.
    const bool met = after.longestBlock < 0.05 && changed.longestBlock < 0.5 && settingsRun.peakResidentMiB < 200
        && sidecarRun.peakResidentMiB < 200;
    return met ? 0 : 1;
}
