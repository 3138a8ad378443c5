#include "ParlinoAppFixture.hpp"

#include "platform/audio/MP4Duration.hpp"

using namespace std::chrono_literals;
using parlinoapp::audioOf;
using parlinoapp::audioSeconds;
using parlinoapp::dictatedText;
using parlinoapp::field;
using parlinoapp::sidecars;

namespace {

// The seconds of audio the file holds on disk, as its boxes say; nothing while they cannot be read.
std::optional<double> secondsOnDisk(const std::filesystem::path& file)
{
    try {
        return platform::MP4Duration::read(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<std::string> fileNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        // The running program's lock lies beside the recordings.
        if (entry.path().filename() != ".parlino.lock") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Offline from the first launch, with the after-recording options at their defaults (text only), a
// recording is kept untranscribed; a second one is cut off by a kill. After a relaunch both are
// listed with their audio, and once the hub answers again ReTranscribe gives both their text.
TEST_F(ParlinoApp, ARecordingWithoutAModelAndOneCutOffByAKillAreListedAndTranscribedLater)
{
    platform::UserDefaults settings(settingsFile());
    settings.remove("saveToRecordings");
    settings.setBool("parlino_hasSeenOnboarding", true);
    reported += ",sidebar,recordingsList,noTranscription,reTranscribeButton";
    // Connections to the hub are refused from now on.
    hub.stop();

    std::filesystem::path untranscribed;
    std::filesystem::path cutOff;
    {
        auto app = launch();
        ASSERT_TRUE(app);
        ASSERT_TRUE(app->waitUntil([&] {
            return app->place("startRecordingButton") && app->saw("❌ Auris initialization failed: ");
        })) << app->output();
        ASSERT_TRUE(startRecording(*app)) << app->output();
        ASSERT_TRUE(stopRecording(*app)) << app->output();
        EXPECT_TRUE(app->saw("⏩ Model not ready, saving audio without transcription")) << app->output();
        EXPECT_FALSE(app->saw("🗑️ Audio file deleted (text-only mode)")) << app->output();
        const auto kept = app->lastAfter("💾 Keeping the recording without a transcript: ");
        ASSERT_TRUE(kept) << app->output();
        untranscribed = library() / *kept;
        // The whole utterance, with a sidecar that has no transcript yet.
        EXPECT_GT(audioSeconds(untranscribed), audioSeconds(*speech) - 0.2);
        const auto saved = sidecars(library());
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(audioOf(saved.begin()->second), untranscribed);
        EXPECT_EQ(field(saved.begin()->second, "transcription"), "");

        // The list opens on it, and its detail offers a re-transcription.
        ASSERT_TRUE(app->waitForPlace("recordingsList.row0")) << app->output();
        ASSERT_TRUE(clickUntil(*app, "recordingsList.row0", [&] { return app->place("noTranscription").has_value(); }))
            << app->output();
        EXPECT_TRUE(app->waitForPlace("reTranscribeButton")) << app->output();

        // The next recording: killed as soon as a whole second of it is on disk.
        ASSERT_TRUE(clickUntil(*app, "sidebar.row0", [&] { return app->place("startRecordingButton").has_value(); }))
            << app->output();
        ASSERT_TRUE(startRecording(*app)) << app->output();
        cutOff = library() / app->lastAfter("📁 Audio file: ").value_or("");
        ASSERT_NE(cutOff, untranscribed);
        ASSERT_TRUE(app->poll([&] { return secondsOnDisk(cutOff).value_or(0) >= 1.0; })) << app->output();
        app->process().kill();
        ASSERT_TRUE(app->process().waitForExit(timeout));
    }

    hub.start();
    auto app = launch();
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->waitUntil([&] { return app->place("parlinoWindow") && app->saw("✅ Loaded 2 recordings"); }))
        << app->output();
    auto library = sidecars(this->library());
    ASSERT_EQ(library.size(), 2u);
    std::vector<std::string> expected {untranscribed.filename(), cutOff.filename()};
    for (const auto& [id, sidecar] : library) {
        const auto audio = audioOf(sidecar);
        EXPECT_TRUE(audio == untranscribed || audio == cutOff) << audio;
        expected.push_back(std::filesystem::path(audio).replace_extension(".json").filename());
        if (audio == cutOff) {
            // Up to the last whole second before the kill, with the length its boxes give.
            const double seconds = audioSeconds(cutOff);
            EXPECT_GE(seconds, 0.9);
            EXPECT_LE(seconds, audioSeconds(*speech) + 0.2);
            ASSERT_TRUE(sidecar.contains("duration") && sidecar["duration"].is_number());
            EXPECT_NEAR(sidecar["duration"].get<double>(), seconds, 0.2);
        }
    }
    // Nothing else: no empty file, nothing set aside, no leftover.
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(fileNames(this->library()), expected);

    // Once the model is there, each gets its transcript.
    ASSERT_TRUE(app->waitForLine("✅ Auris initialized with model: small")) << app->output();
    ASSERT_TRUE(clickUntil(*app, "sidebar.row1", [&] { return app->place("recordingsList.row1").has_value(); }))
        << app->output();
    // A new transcript may reorder the rows: the one still without a transcript is the row
    // without a transcript's line.
    for (int round = 0; round < 2; ++round) {
        const auto first = app->place("recordingsList.row0");
        const auto second = app->place("recordingsList.row1");
        ASSERT_TRUE(first && second) << app->output();
        const char* row = first->height <= second->height ? "recordingsList.row0" : "recordingsList.row1";
        ASSERT_TRUE(clickUntil(*app, row, [&] { return app->place("noTranscription").has_value(); })) << app->output();
        ASSERT_TRUE(app->waitForPlace("reTranscribeButton")) << app->output();
        const auto runs = app->count("🔄 Re-transcribing recording: ");
        const auto completed = app->count("✅ Re-transcription completed successfully!");
        const auto updated = app->count("📝 Update complete!");
        ASSERT_TRUE(clickUntil(*app, "reTranscribeButton", [&] { return app->count("🔄 Re-transcribing recording: ") > runs; }))
            << app->output();
        // The new title comes last and may move the rows: the next click waits for it.
        ASSERT_TRUE(app->waitUntil([&] {
            return app->count("✅ Re-transcription completed successfully!") > completed && !app->place("noTranscription")
                && app->count("📝 Update complete!") > updated;
        })) << app->output();
    }
    EXPECT_TRUE(app->poll([&] {
        const auto saved = sidecars(this->library());
        return std::all_of(saved.begin(), saved.end(), [](const auto& entry) { return field(entry.second, "transcription") == dictatedText; });
    })) << app->output();
    closeWindow(*app);
    expectCleanExit(*app);
}
