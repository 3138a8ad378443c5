#pragma once

#include "ScriptedWhisperWeights.hpp"
#include "XDesktop.hpp"

#include "Tokenizers/TokenizerFixtures.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "platform/settings/UserDefaults.hpp"
#include "support/AudioFixtures.hpp"
#include "support/ChildProcess.hpp"
#include "support/PostgresTestServer.hpp"
#include "support/PulseAudioTestServer.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/XvfbTestServer.hpp"
#include "tools/loopback-hub/LoopbackHub.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QImage>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace parlinoapp {

using namespace std::chrono_literals;
using testsupport::XDesktop;

inline constexpr auto timeout = 60s;
inline constexpr const char* reportedWidgets
    = "parlinoWindow,onboardingButton,startRecordingButton,stopRecordingButton,trayMenu";

// What the synthetic model writes, whatever it hears: the prompt it predicts for itself (English,
// transcribe, the first timestamp), then "Hello world" in the test tokenizer's ids, then the end.
inline constexpr const char* dictatedText = "Hello world";
inline const std::vector<int> dictatedTokens {50259, 50359, 50364, 262, 267, 50257};

inline double audioSeconds(const std::filesystem::path& file)
{
    const platform::AudioFile audio(file);
    return static_cast<double>(audio.length()) / audio.processingFormat().sampleRate;
}

// Every recording's sidecar in the library folder, by id.
inline std::map<std::string, nlohmann::json> sidecars(const std::filesystem::path& folder)
{
    std::map<std::string, nlohmann::json> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        std::ifstream file(entry.path());
        const auto sidecar = nlohmann::json::parse(file, nullptr, false);
        if (sidecar.is_object() && sidecar.contains("id")) {
            found[sidecar.value("id", "")] = sidecar;
        }
    }
    return found;
}

inline std::string field(const nlohmann::json& sidecar, const char* key)
{
    return sidecar.is_object() ? sidecar.value(key, std::string()) : std::string();
}

// The audio file the sidecar names (its "audioURL" is a file URL).
inline std::filesystem::path audioOf(const nlohmann::json& sidecar)
{
    return QUrl(QString::fromStdString(field(sidecar, "audioURL"))).toLocalFile().toStdString();
}

// The running program as its output shows it: every line so far, and where each reported widget
// was last painted.
class RunningApp {
public:
    explicit RunningApp(std::unique_ptr<testsupport::ChildProcess> process)
        : process_(std::move(process))
    {
    }

    testsupport::ChildProcess& process() { return *process_; }

    // Reads output until the condition holds; false when the output ends or time runs out first.
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds within = timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (!condition()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            const auto line = process_->waitForLine([](const std::string&) { return true; }, left);
            if (!line) {
                return condition();
            }
            take(*line);
        }
        return true;
    }

    bool saw(const std::string& prefix) const
    {
        return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) { return line.starts_with(prefix); });
    }
    bool waitForLine(const std::string& prefix) { return waitUntil([&] { return saw(prefix); }); }
    std::size_t count(const std::string& prefix) const
    {
        return static_cast<std::size_t>(
            std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) { return line.starts_with(prefix); }));
    }
    // The rest of the last line so far that starts with `prefix`.
    std::optional<std::string> lastAfter(const std::string& prefix) const
    {
        for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
            if (line->starts_with(prefix)) {
                return line->substr(prefix.size());
            }
        }
        return std::nullopt;
    }
    // For conditions outside the output (files): looked at again at least every `interval`.
    bool poll(const std::function<bool()>& condition, std::chrono::milliseconds within = timeout,
        std::chrono::milliseconds interval = 50ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            waitUntil([] { return false; }, interval);
        }
        return true;
    }

    std::optional<XDesktop::Rect> place(const std::string& widget) const
    {
        const auto found = places_.find(widget);
        return found == places_.end() ? std::nullopt : std::optional(found->second);
    }
    bool waitForPlace(const std::string& widget) { return waitUntil([&] { return place(widget).has_value(); }); }
    void forget(const std::string& widget) { places_.erase(widget); }

    std::string output() const { return process_->output(); }

private:
    void take(const std::string& line)
    {
        lines_.push_back(line);
        std::istringstream words(line);
        std::string marker;
        std::string kind;
        std::string name;
        words >> marker >> kind >> name;
        if (kind == "geometry") {
            XDesktop::Rect rect;
            if (words >> rect.x >> rect.y >> rect.width >> rect.height) {
                places_[name] = rect;
            }
        } else if (kind == "hidden") {
            places_.erase(name);
        }
    }

    std::unique_ptr<testsupport::ChildProcess> process_;
    std::vector<std::string> lines_;
    std::map<std::string, XDesktop::Rect> places_;
};

inline std::string sanitizerReports(const std::string& output)
{
    std::string found;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Sanitizer") != std::string::npos || line.find("runtime error:") != std::string::npos) {
            found += line + "\n";
        }
    }
    return found;
}

} // namespace parlinoapp

// The parlino program on a private desktop (Xvfb with openbox), with a private sound server, a hub on
// loopback serving a tiny synthetic model, a fresh home folder, and espeak-ng speech heard through
// the capture file instead of a microphone. The test drives it from outside, through XTEST.
class ParlinoApp : public ::testing::Test {
protected:
    using RunningApp = parlinoapp::RunningApp;
    using XDesktop = testsupport::XDesktop;
    static constexpr auto timeout = parlinoapp::timeout;

    void SetUp() override
    {
        std::string whyNot;
        xvfb = testsupport::XvfbTestServer::start(whyNot, {.windowManager = true, .screen = screen});
        if (!xvfb) {
            GTEST_SKIP() << whyNot;
        }
        pulse = testsupport::PulseAudioTestServer::start(whyNot);
        if (!pulse) {
            GTEST_SKIP() << whyNot;
        }
        desktop = XDesktop::connect(xvfb->displayName(), whyNot);
        ASSERT_TRUE(desktop) << whyNot;
        speech = testsupport::speak("Parlino keeps every word on this computer.", temporary / "speech.wav");
        if (!speech) {
            GTEST_SKIP() << "espeak-ng is not available to generate speech";
        }
        hub.start();
        ml::WhisperModelSet::write(hub.repositoryFolder("aurislabs/auris-coreml") / "openai_whisper-small",
            ml::WhisperShape::smallest(), ml::MultiArrayDataType::float16, testsupport::scriptedWhisperWeights(ml::WhisperShape::smallest(), parlinoapp::dictatedTokens, 7));
        fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder("openai/whisper-base"));
        for (const char* folder : {".config", ".cache", ".local/share", "Documents", "runtime"}) {
            std::filesystem::create_directories(home / folder);
        }
        std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
        // Recordings are kept in the library, as the after-recording options would say.
        platform::UserDefaults(settingsFile()).setBool("saveToRecordings", true);
    }

    std::filesystem::path settingsFile() const { return home / ".config" / "parlino" / "parlino.conf"; }
    std::filesystem::path library() const { return home / "Documents" / "Parlino"; }

    // Started with the fixture's environment; `changes` set variables to other values, or unset them.
    std::unique_ptr<RunningApp> launch(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes = {})
    {
        std::vector<std::pair<std::string, std::string>> environment {
            {"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / ".config").string()},
            {"XDG_CACHE_HOME", (home / ".cache").string()},
            {"XDG_DATA_HOME", (home / ".local" / "share").string()},
            {"XDG_DOCUMENTS_DIR", (home / "Documents").string()},
            {"XDG_RUNTIME_DIR", (home / "runtime").string()},
            {"XDG_SESSION_TYPE", "x11"},
            {"DISPLAY", xvfb->displayName()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"LANG", "C.UTF-8"},
            {"PULSE_SERVER", pulse->address()},
            {"AURIS_HUB_ENDPOINT", hub.endpoint()},
            {"PARLINO_REPORT_GEOMETRY", reported},
            // Qt and X keep their one-time caches until exit; leaks of ours are never suppressed.
            {"LSAN_OPTIONS", "suppressions=" PARLINO_SOURCE_DIR "/tests/lsan-qt.supp:print_suppressions=0"},
        };
        if (cloud) {
            environment.emplace_back("PARLINO_CLOUD_URL", cloud->url());
        }
        if (!captureFromSoundServer) {
            environment.emplace_back("PARLINO_CAPTURE_FILE", speech->string());
        }
        for (const auto& [name, value] : changes) {
            std::erase_if(environment, [&](const auto& variable) { return variable.first == name; });
            if (value) {
                environment.emplace_back(name, *value);
            }
        }
        for (const char* passed : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            if (const char* value = std::getenv(passed)) {
                environment.emplace_back(passed, value);
            }
        }
        std::string whyNot;
        auto process = testsupport::ChildProcess::start({PARLINO_APP_COMMAND}, whyNot,
            {.environment = std::move(environment), .inheritEnvironment = false});
        EXPECT_TRUE(process) << whyNot;
        return process ? std::make_unique<RunningApp>(std::move(process)) : nullptr;
    }

    void click(const XDesktop::Rect& place) { desktop->click(place.centerX(), place.centerY()); }

    // Clicks the widget until the program logs what the click does. Layouts still settling (a
    // section that goes, an entrance) may move it away under the pointer: when it is painted at a
    // new place before the click has shown its effect, it is clicked there again.
    bool clickUntil(RunningApp& app, const std::string& widget, const std::string& effect)
    {
        return clickUntil(app, widget, [&] { return app.saw(effect); });
    }
    bool clickUntil(RunningApp& app, const std::string& widget, const std::function<bool()>& effect)
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const auto place = app.place(widget);
            if (!place) {
                return false;
            }
            click(*place);
            const bool settled = app.waitUntil([&] {
                const auto now = app.place(widget);
                return effect() || !now || now->x != place->x || now->y != place->y;
            });
            if (effect()) {
                return true;
            }
            if (!settled) {
                return false;
            }
        }
        return false;
    }

    // Starts a recording with the Record screen's button; true once it runs and can be stopped.
    bool startRecording(RunningApp& app)
    {
        const auto starts = app.count("📼 WhisperRecorder: Starting recording...");
        const auto started = app.count("✅ WhisperRecorder: Recording started");
        return clickUntil(app, "startRecordingButton", [&] { return app.count("📼 WhisperRecorder: Starting recording...") > starts; })
            && app.waitUntil([&] { return app.count("✅ WhisperRecorder: Recording started") > started && app.place("stopRecordingButton"); });
    }

    // Stops the recording with its button; true once the program has saved it to the library.
    bool stopRecording(RunningApp& app)
    {
        const auto stops = app.count("⏹️ WhisperRecorder: Stopping recording...");
        const auto saves = app.count("✅ Recording saved (category: Personal)");
        return clickUntil(app, "stopRecordingButton", [&] { return app.count("⏹️ WhisperRecorder: Stopping recording...") > stops; })
            && app.waitUntil([&] { return app.count("✅ Recording saved (category: Personal)") > saves; });
    }

    // What the screen shows in `area` once it has stopped changing (or, for screens with decorative
    // motion, after a while).
    QImage stillPicture(RunningApp& app, const XDesktop::Rect& area)
    {
        QImage image = desktop->capture(area);
        for (int look = 0; look < 20; ++look) {
            app.waitUntil([] { return false; }, std::chrono::milliseconds(100));
            QImage again = desktop->capture(area);
            const bool still = again == image;
            image = std::move(again);
            if (still) {
                break;
            }
        }
        return image;
    }

    // Closes the program's window as its close button would.
    void closeWindow(RunningApp& app)
    {
        const unsigned long window = desktop->windowOfProcess(app.process().pid());
        ASSERT_NE(window, 0u) << "the window manager lists no window of the program";
        desktop->closeWindow(window);
    }

    void expectCleanExit(RunningApp& app)
    {
        ASSERT_TRUE(app.process().waitForExit(timeout)) << app.output();
        EXPECT_EQ(app.process().exitCode(), 0) << app.output();
        EXPECT_EQ(parlinoapp::sanitizerReports(app.output()), "") << app.output();
    }

    // The object names whose places the program tells.
    std::string reported = parlinoapp::reportedWidgets;
    // Records from the private sound server's microphone instead of the speech file.
    bool captureFromSoundServer = false;
    // The private desktop's screen, as Xvfb takes it.
    std::string screen = "1600x1200x24";
    // The private cloud store, for tests that start one before launching.
    std::unique_ptr<testsupport::PostgresTestServer> cloud;
    testsupport::TemporaryDirectory temporary;
    std::filesystem::path home = temporary / "home";
    std::unique_ptr<testsupport::XvfbTestServer> xvfb;
    std::unique_ptr<testsupport::PulseAudioTestServer> pulse;
    std::unique_ptr<XDesktop> desktop;
    std::optional<std::filesystem::path> speech;
    loopback::LoopbackHub hub {temporary / "hub"};
};

