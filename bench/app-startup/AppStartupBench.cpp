// Times a later launch of the parlino program: from the moment the process is started to the
// first paint of its main window, with onboarding already seen and the speech model already on
// disk; and, for the record, until the model has loaded in the background. Everything runs on a
// private X server (with openbox when installed), session bus, sound server and model hub in a
// temporary folder. Exit status 1 when the median first paint is not under the goal.
// With a library of recordings (--library N), each run is timed twice: once with the audio files
// alone (the launch makes their sidecars) and once with the sidecars the launch before made; then
// the goal is the library's (3 s and 300 MiB for 10,000 recordings).
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "platform/settings/UserDefaults.hpp"
#include "support/ChildProcess.hpp"
#include "support/AudioFixtures.hpp"
#include "support/BenchFigures.hpp"
#include "support/PulseAudioTestServer.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/XvfbTestServer.hpp"
#include "tools/loopback-hub/LoopbackHub.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperTokenizerFiles.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::loadAverage;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double goalMilliseconds = 1000;
// For a library of 10,000 recordings; smaller ones are held to the same.
constexpr double libraryGoalMilliseconds = 3000;
constexpr double libraryGoalMiB = 300;
constexpr auto lineTimeout = std::chrono::seconds(120);
constexpr const char* firstPaintLine = "🧪 first paint ";
constexpr const char* modelReadyLine = "✅ Auris initialized with model: ";
constexpr const char* libraryLoadedLine = "✅ Loaded ";
constexpr const char* libraryLoadedEnd = " recordings";

struct Options {
    int runs = 7;
    std::string preset = "small";
    int library = 0;
};

void usage()
{
    std::fprintf(stderr, "usage: app-startup-bench [--runs N] [--preset tiny|base|small] [--library RECORDINGS]\n");
}

std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--runs" && i + 1 < argc) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--preset" && i + 1 < argc) {
            options.preset = argv[++i];
        } else if (argument == "--library" && i + 1 < argc) {
            options.library = std::max(0, std::atoi(argv[++i]));
        } else {
            return std::nullopt;
        }
    }
    return options;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Whether the text holds the line that ends the library's load ("✅ Loaded 3 recordings").
bool listsLibrary(const std::string& text)
{
    for (std::size_t at = text.find(libraryLoadedLine); at != std::string::npos; at = text.find(libraryLoadedLine, at + 1)) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if ((at == 0 || text[at - 1] == '\n') && text.compare(end - std::strlen(libraryLoadedEnd), std::strlen(libraryLoadedEnd), libraryLoadedEnd) == 0) {
            return true;
        }
    }
    return false;
}

struct Run {
    double firstPaint = NAN;
    double modelReady = NAN;
    // Until the library's load has listed every recording, and the peak memory then.
    double libraryLoaded = NAN;
    double peakMiB = NAN;
    // The peak once the model has loaded too.
    double peakWithModelMiB = NAN;
};

// The user's world of a later launch: onboarding seen, the model and its tokenizer in the cache.
class Machine {
public:
    bool setUp(const Options& options, std::string& whyNot)
    {
        testsupport::XvfbTestServer::Options display;
        display.windowManager = !testsupport::ChildProcess::findProgram("openbox").empty();
        display.screen = "1920x1080x24";
        xvfb_ = testsupport::XvfbTestServer::start(whyNot, display);
        if (!xvfb_) {
            return false;
        }
        pulse_ = testsupport::PulseAudioTestServer::start(whyNot);
        if (!pulse_) {
            return false;
        }
        // A desktop session has a session bus; without one, Qt's tray lookup waits for one to start.
        if (!testsupport::ChildProcess::findProgram("dbus-daemon").empty()) {
            sessionBus_ = testsupport::ChildProcess::start({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, whyNot);
            if (const auto address = sessionBus_ ? sessionBus_->waitForLine([](const std::string& line) { return line.starts_with("unix:"); }, lineTimeout)
                                                 : std::nullopt) {
                busAddress_ = *address;
            }
        }
        for (const char* folder : {".config", ".cache", "Documents", "runtime"}) {
            fs::create_directories(home() / folder);
        }
        fs::permissions(home() / "runtime", fs::perms::owner_all);
        platform::UserDefaults(home() / ".config" / "parlino" / "parlino.conf").setBool("parlino_hasSeenOnboarding", true);

        // The model is written straight into the cache, and the hub answers its listing from there;
        // the tokenizer is fetched by the first, unmeasured launch.
        const fs::path repository = home() / ".cache" / "parlino" / "models" / "aurislabs" / "auris-coreml";
        std::printf("Writing a %s-shaped model with random weights...\n", options.preset.c_str());
        std::fflush(stdout);
        ml::WhisperModelSet::write(repository / "openai_whisper-small", ml::WhisperShape::preset(options.preset),
            ml::MultiArrayDataType::float16, ml::randomWhisperWeights(7));
        fs::create_directories(hub_.repositoryFolder("aurislabs/auris-coreml").parent_path());
        fs::create_directory_symlink(repository, hub_.repositoryFolder("aurislabs/auris-coreml"));
        ml::WhisperTokenizerFiles {}.write(hub_.repositoryFolder("openai/whisper-" + options.preset));
        hub_.start();
        if (options.library > 0) {
            writeLibrary(options.library);
        }
        return true;
    }

    // Takes the library's sidecars away, as if its audio files had been copied in from elsewhere.
    // They are moved, not removed: ext4 passes over the inodes of files deleted in the last seconds
    // when it makes new ones, which would make the next load's sidecars far slower to write than a
    // user's first launch with such a library ever is.
    void removeSidecars()
    {
        const fs::path aside = folder_ / ("sidecars-" + std::to_string(++removals_));
        fs::create_directory(aside);
        for (const auto& entry : fs::directory_iterator(library())) {
            if (entry.path().extension() == ".json") {
                fs::rename(entry.path(), aside / entry.path().filename());
            }
        }
    }

    // Starts the program, waits for its first paint and for the model, then ends it.
    std::optional<Run> launch(std::string& whyNot)
    {
        std::vector<std::pair<std::string, std::string>> environment {
            {"HOME", home().string()},
            {"XDG_CONFIG_HOME", (home() / ".config").string()},
            {"XDG_CACHE_HOME", (home() / ".cache").string()},
            {"XDG_DOCUMENTS_DIR", (home() / "Documents").string()},
            {"XDG_RUNTIME_DIR", (home() / "runtime").string()},
            {"XDG_SESSION_TYPE", "x11"},
            {"DISPLAY", xvfb_->displayName()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"LANG", "C.UTF-8"},
            {"PULSE_SERVER", pulse_->address()},
            {"AURIS_HUB_ENDPOINT", hub_.endpoint()},
            {"PARLINO_REPORT_FIRST_PAINT", "1"},
        };
        if (!busAddress_.empty()) {
            environment.emplace_back("DBUS_SESSION_BUS_ADDRESS", busAddress_);
        }
        const auto start = Clock::now();
        auto app = testsupport::ChildProcess::start({PARLINO_APP_COMMAND}, whyNot,
            {.environment = std::move(environment), .inheritEnvironment = false});
        if (!app) {
            return std::nullopt;
        }
        Run run;
        const auto painted = app->waitForLine([](const std::string& line) { return line.starts_with(firstPaintLine); }, lineTimeout);
        if (!painted) {
            whyNot = "no first paint; the program said:\n" + app->output();
            return std::nullopt;
        }
        const Clock::time_point paint {std::chrono::nanoseconds(std::stoll(painted->substr(std::string(firstPaintLine).size())))};
        run.firstPaint = milliseconds(paint - start);
        // The load may have ended before the paint, its line already passed.
        if (!listsLibrary(app->output()) && !app->waitForLine(&listsLibrary, lineTimeout)) {
            whyNot = "the library did not load; the program said:\n" + app->output();
            return std::nullopt;
        }
        run.libraryLoaded = std::max(run.firstPaint, milliseconds(Clock::now() - start));
        run.peakMiB = testsupport::peakResidentMiB(std::to_string(app->pid()));
        if (!app->waitForLine([](const std::string& line) { return line.starts_with(modelReadyLine); }, lineTimeout)) {
            whyNot = "the model did not load; the program said:\n" + app->output();
            return std::nullopt;
        }
        run.modelReady = milliseconds(Clock::now() - start);
        run.peakWithModelMiB = testsupport::peakResidentMiB(std::to_string(app->pid()));
        app->terminate();
        return run;
    }

private:
    fs::path home() const { return folder_ / "home"; }
    fs::path library() const { return home() / "Documents" / "Parlino"; }

    // A minute of speech-like audio, as the recorder writes it, under each of `count` names.
    void writeLibrary(int count)
    {
        std::printf("Writing a library of %d recordings...\n", count);
        std::fflush(stdout);
        fs::create_directories(library());
        const fs::path model = folder_ / "model.m4a";
        testsupport::writeAudioFile(model, 16000, {testsupport::noise(60 * 16000, 0.3f)});
        for (int i = 0; i < count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "2025-01-%02d_%02d%02d_Recording-%05d.m4a", 1 + i % 28, i / 60 % 24, i % 60, i);
            fs::copy_file(model, library() / name);
        }
    }

    testsupport::TemporaryDirectory folder_;
    std::unique_ptr<testsupport::XvfbTestServer> xvfb_;
    std::unique_ptr<testsupport::PulseAudioTestServer> pulse_;
    std::unique_ptr<testsupport::ChildProcess> sessionBus_;
    std::string busAddress_;
    loopback::LoopbackHub hub_ {folder_ / "hub"};
    int removals_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const auto options = parse(argc, argv);
    if (!options) {
        usage();
        return 2;
    }
    Machine machine;
    std::string whyNot;
    if (!machine.setUp(*options, whyNot)) {
        std::fprintf(stderr, "app-startup-bench: %s\n", whyNot.c_str());
        return 2;
    }
    const std::string loadBefore = loadAverage();
    // The first launch fetches the tokenizer, warms the disk cache and writes the sidecars; it is not counted.
    if (!machine.launch(whyNot)) {
        std::fprintf(stderr, "app-startup-bench: %s\n", whyNot.c_str());
        return 2;
    }
    // Without a library one kind of launch; with one, a launch that makes the sidecars and one that reads them.
    const std::vector<std::string> kinds = options->library > 0
        ? std::vector<std::string> {"without sidecars", "with sidecars"}
        : std::vector<std::string> {""};
    std::vector<std::vector<Run>> runs(kinds.size());
    for (int i = 0; i < options->runs; ++i) {
        for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
            if (kinds[kind] == "without sidecars") {
                machine.removeSidecars();
            }
            const auto run = machine.launch(whyNot);
            if (!run) {
                std::fprintf(stderr, "app-startup-bench: %s\n", whyNot.c_str());
                return 2;
            }
            std::printf("run %d%s%s: first paint %.0f ms, library listed %.0f ms (peak %.0f MiB), model ready %.0f ms\n", i + 1,
                kinds[kind].empty() ? "" : ", ", kinds[kind].c_str(), run->firstPaint, run->libraryLoaded, run->peakMiB,
                run->modelReady);
            runs[kind].push_back(*run);
        }
    }
    const double paintGoal = options->library > 0 ? libraryGoalMilliseconds : goalMilliseconds;
    bool met = true;
    std::printf("\n%d recordings in the library, %s model\n", options->library, options->preset.c_str());
    std::printf("%-44s %8s %8s %8s\n", "from process start to", "median", "fastest", "slowest");
    for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
        const auto column = [&](double Run::*field) {
            std::vector<double> values;
            for (const Run& run : runs[kind]) {
                values.push_back(run.*field);
            }
            return values;
        };
        const auto row = [&](const std::string& what, const std::vector<double>& values, const char* unit, const std::string& goal) {
            std::printf("%-44s %6.0f %s %6.0f %s %6.0f %s%s\n", (what + (kinds[kind].empty() ? "" : ", " + kinds[kind])).c_str(),
                median(values), unit, *std::min_element(values.begin(), values.end()), unit,
                *std::max_element(values.begin(), values.end()), unit, goal.c_str());
        };
        const auto paints = column(&Run::firstPaint);
        const auto peaks = column(&Run::peakMiB);
        row("main window's first paint", paints, "ms", "   (goal: under " + std::to_string(static_cast<int>(paintGoal)) + " ms)");
        met = met && median(paints) < paintGoal;
        if (options->library > 0) {
            row("library listed", column(&Run::libraryLoaded), "ms", "");
            row("peak resident then", peaks, "MiB", "   (goal: under " + std::to_string(static_cast<int>(libraryGoalMiB)) + " MiB)");
            met = met && median(peaks) < libraryGoalMiB;
        }
        row("model ready (" + options->preset + ")", column(&Run::modelReady), "ms", "");
        if (options->library > 0) {
            row("peak resident with the model", column(&Run::peakWithModelMiB), "MiB", "");
        }
    }
    std::printf("load average before: %s, after: %s\n", loadBefore.c_str(), loadAverage().c_str());
    return met ? 0 : 1;
}
