// Times a later launch of the parlino program: from the moment the process is started to the
// first paint of its main window, with onboarding already seen and the speech model already on
// disk; and, for the record, until the model has loaded in the background. Everything runs on a
// private X server (with openbox when installed), session bus, sound server and model hub in a
// temporary folder. Exit status 1 when the median first paint is not under the goal.
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "platform/settings/UserDefaults.hpp"
#include "support/ChildProcess.hpp"
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
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double goalMilliseconds = 1000;
constexpr auto lineTimeout = std::chrono::seconds(120);
constexpr const char* firstPaintLine = "🧪 first paint ";
constexpr const char* modelReadyLine = "✅ Auris initialized with model: ";

struct Options {
    int runs = 7;
    std::string preset = "small";
};

void usage()
{
    std::fprintf(stderr, "usage: app-startup-bench [--runs N] [--preset tiny|base|small]\n");
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
        } else {
            return std::nullopt;
        }
    }
    return options;
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
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

struct Run {
    double firstPaint = NAN;
    double modelReady = NAN;
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
        return true;
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
        if (!app->waitForLine([](const std::string& line) { return line.starts_with(modelReadyLine); }, lineTimeout)) {
            whyNot = "the model did not load; the program said:\n" + app->output();
            return std::nullopt;
        }
        run.modelReady = milliseconds(Clock::now() - start);
        app->terminate();
        return run;
    }

private:
    fs::path home() const { return folder_ / "home"; }

    testsupport::TemporaryDirectory folder_;
    std::unique_ptr<testsupport::XvfbTestServer> xvfb_;
    std::unique_ptr<testsupport::PulseAudioTestServer> pulse_;
    std::unique_ptr<testsupport::ChildProcess> sessionBus_;
    std::string busAddress_;
    loopback::LoopbackHub hub_ {folder_ / "hub"};
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
    // The first launch fetches the tokenizer and warms the disk cache; it is not counted.
    if (!machine.launch(whyNot)) {
        std::fprintf(stderr, "app-startup-bench: %s\n", whyNot.c_str());
        return 2;
    }
    std::vector<double> paints;
    std::vector<double> models;
    for (int i = 0; i < options->runs; ++i) {
        const auto run = machine.launch(whyNot);
        if (!run) {
            std::fprintf(stderr, "app-startup-bench: %s\n", whyNot.c_str());
            return 2;
        }
        std::printf("run %d: first paint %.0f ms, model ready %.0f ms\n", i + 1, run->firstPaint, run->modelReady);
        paints.push_back(run->firstPaint);
        models.push_back(run->modelReady);
    }
    const double paint = median(paints);
    std::printf("\n%-28s %8s %8s %8s\n", "from process start to", "median", "fastest", "slowest");
    std::printf("%-28s %6.0f ms %6.0f ms %6.0f ms   (goal: under %.0f ms)\n", "main window's first paint", paint,
        *std::min_element(paints.begin(), paints.end()), *std::max_element(paints.begin(), paints.end()), goalMilliseconds);
    std::printf("%-28s %6.0f ms %6.0f ms %6.0f ms\n", ("model ready (" + options->preset + ")").c_str(), median(models),
        *std::min_element(models.begin(), models.end()), *std::max_element(models.begin(), models.end()));
    std::printf("load average before: %s, after: %s\n", loadBefore.c_str(), loadAverage().c_str());
    return paint < goalMilliseconds ? 0 : 1;
}
