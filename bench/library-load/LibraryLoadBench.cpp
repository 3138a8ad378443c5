// Times the recordings library's start-up load of a folder of recordings: first with audio files
// alone (each gets its record from the file's header and a new sidecar), then the same folder with
// its sidecars. Prints the time of each load and the process's peak resident memory after it.
// Its figures go to standard error; the library's own lines to standard output.
// Exit status 1 when a load misses the goal (3 s and 300 MiB for 10,000 recordings).
#include "app/library/RecordingsManager.hpp"
#include "support/AudioFixtures.hpp"
#include "support/BenchFigures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using testsupport::loadAverage;
using testsupport::peakResidentMiB;

double timedLoad(const std::filesystem::path& folder, std::size_t& listed)
{
    const auto start = std::chrono::steady_clock::now();
    parlino::RecordingsManager library(folder);
    library.loadRecordings();
    const auto end = std::chrono::steady_clock::now();
    listed = static_cast<std::size_t>(library.recordings().size());
    return std::chrono::duration<double>(end - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    testsupport::TemporaryDirectory root;
    const std::filesystem::path folder = root.path() / "Parlino";
    std::filesystem::create_directories(folder);
    // A minute of speech-like audio, as the recorder writes it, under every name.
    const std::filesystem::path model = root.path() / "model.m4a";
    testsupport::writeAudioFile(model, 16000, {testsupport::noise(60 * 16000, 0.3f)});
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "2025-01-%02d_%02d%02d_Recording-%05d.m4a", 1 + i % 28, i / 60 % 24, i % 60, i);
        std::filesystem::copy_file(model, folder / name);
    }
    const std::string loadBefore = loadAverage();
    std::size_t listed = 0;
    const double without = timedLoad(folder, listed);
    const double memoryWithout = peakResidentMiB();
    std::fprintf(stderr, "%d recordings without sidecars: %.2f s, %zu listed, peak resident %.0f MiB\n", count, without, listed, memoryWithout);
    const double with = timedLoad(folder, listed);
    std::fprintf(stderr, "%d recordings with sidecars:    %.2f s, %zu listed, peak resident %.0f MiB\n", count, with, listed, peakResidentMiB());
    std::fprintf(stderr, "load average before: %s, after: %s\n", loadBefore.c_str(), loadAverage().c_str());
    const double goalSeconds = 3.0 * count / 10000;
    return without < goalSeconds && with < goalSeconds && peakResidentMiB() < 300 ? 0 : 1;
}
