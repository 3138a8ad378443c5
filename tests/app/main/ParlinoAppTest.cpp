#include "ParlinoAppFixture.hpp"

#include <nlohmann/json.hpp>

#include <fstream>

using namespace std::chrono_literals;
using parlinoapp::audioSeconds;

TEST_F(ParlinoApp, OnboardsThenRecordsIntoTheLibraryAndLaterLaunchesLoadTheModelAtOnce)
{
    {
        auto app = launch();
        ASSERT_TRUE(app);
        // First launch: the onboarding pages in a 500 × 400 window, with no manager made yet.
        ASSERT_TRUE(app->waitUntil([&] { return app->place("parlinoWindow") && app->place("onboardingButton"); }))
            << app->output();
        EXPECT_EQ(app->place("parlinoWindow")->width, 500);
        EXPECT_EQ(app->place("parlinoWindow")->height, 400);
        EXPECT_FALSE(app->saw("✅ WhisperRecorder initialized"));
        // The window comes up in front with its button focused: the space bar goes through the
        // four pages, "Get Started" last.
        ASSERT_TRUE(app->waitForLine("🧪 focus onboardingButton")) << app->output();
        for (int page = 0; page < 4; ++page) {
            desktop->tapKey("space");
        }
        app->forget("parlinoWindow");
        ASSERT_TRUE(app->waitUntil([&] {
            const auto window = app->place("parlinoWindow");
            return window && window->width >= 900 && window->height >= 600 && app->place("startRecordingButton");
        })) << app->output();
        EXPECT_TRUE(platform::UserDefaults(settingsFile()).boolValue("parlino_hasSeenOnboarding"));

        // The model comes from the hub; then a recording of the speech is transcribed and kept.
        ASSERT_TRUE(app->waitForLine("✅ Auris initialized with model: small")) << app->output();
        ASSERT_TRUE(startRecording(*app)) << app->output();
        ASSERT_TRUE(stopRecording(*app)) << app->output();
        EXPECT_TRUE(app->saw("🎤 Transcribing with Auris...")) << app->output();
        EXPECT_FALSE(app->saw("⏩ Model not ready")) << app->output();

        std::vector<std::filesystem::path> audio;
        std::vector<std::filesystem::path> sidecars;
        for (const auto& entry : std::filesystem::directory_iterator(library())) {
            // The running program's lock lies beside the recordings.
            if (entry.path().filename() != ".parlino.lock") {
                (entry.path().extension() == ".json" ? sidecars : audio).push_back(entry.path());
            }
        }
        ASSERT_EQ(audio.size(), 1u);
        ASSERT_EQ(sidecars.size(), 1u);
        EXPECT_EQ(audio[0].extension(), ".m4a");
        EXPECT_EQ(sidecars[0].stem(), audio[0].stem());
        // The whole utterance was heard.
        EXPECT_GT(audioSeconds(audio[0]), audioSeconds(*speech) - 0.2);
        std::ifstream sidecarFile(sidecars[0]);
        const auto sidecar = nlohmann::json::parse(sidecarFile, nullptr, false);
        ASSERT_TRUE(sidecar.is_object());
        EXPECT_TRUE(sidecar.contains("transcription"));
        EXPECT_EQ(sidecar.value("category", ""), "Personal");

        // No tray on this desktop: closing the window ends the program.
        closeWindow(*app);
        expectCleanExit(*app);
    }

    // Later launch, now on a desktop with a system tray: straight to the main window, and the model
    // on disk is loaded at start-up without a recording asking for it.
    ASSERT_TRUE(desktop->becomeSystemTray());
    auto app = launch();
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->waitUntil([&] { return app->place("parlinoWindow") && app->saw("✅ Auris initialized with model: small"); }))
        << app->output();
    EXPECT_GE(app->place("parlinoWindow")->width, 900);
    EXPECT_GE(app->place("parlinoWindow")->height, 600);
    EXPECT_FALSE(app->place("onboardingButton"));
    EXPECT_TRUE(app->saw("✅ Model verified - integrity OK!")) << app->output();

    // Closing the window keeps the program in the tray; the icon brings the window back and its
    // menu quits.
    const auto icon = desktop->waitForTrayIcon(timeout);
    ASSERT_TRUE(icon) << app->output();
    closeWindow(*app);
    ASSERT_TRUE(app->waitForLine("🧪 hidden parlinoWindow")) << app->output();
    click(*icon);
    ASSERT_TRUE(app->waitForPlace("parlinoWindow")) << app->output();
    EXPECT_FALSE(app->process().hasExited());
    desktop->click(icon->centerX(), icon->centerY(), 3);
    ASSERT_TRUE(app->waitForPlace("trayMenu")) << app->output();
    desktop->tapKey("Down");
    desktop->tapKey("Down");
    desktop->tapKey("Return");
    expectCleanExit(*app);
}
