#include "ParlinoAppFixture.hpp"

#include "app/library/CloudKitSyncManager.hpp"
#include "app/library/CloudRecordStore.hpp"
#include "platform/cloud/Container.hpp"

#include <QImage>
#include <QSet>
#include <QUuid>

using namespace std::chrono_literals;
using parlinoapp::dictatedText;
using parlinoapp::field;
using parlinoapp::sidecars;
using testsupport::XDesktop;

namespace {

// Why the screenshot does not look like a painted screen; empty when it does.
std::string implausible(const QImage& image, const XDesktop::Rect& area)
{
    if (image.isNull()) {
        return "nothing was captured";
    }
    if (image.width() != area.width || image.height() != area.height) {
        return "captured " + std::to_string(image.width()) + "x" + std::to_string(image.height());
    }
    QHash<QRgb, int> colours;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            ++colours[line[x]];
        }
    }
    int commonest = 0;
    for (const int count : colours) {
        commonest = std::max(commonest, count);
    }
    // Text, symbols and their antialiasing give any real screen many shades.
    if (colours.size() < 64) {
        return "only " + std::to_string(colours.size()) + " colours";
    }
    if (commonest > image.width() * image.height() * 97 / 100) {
        return "one colour covers nearly all of it";
    }
    return {};
}

} // namespace

// The whole application as a user meets it, with the private cloud store beside it: onboarding,
// a recording from the main window, the recordings list and detail (rename, re-transcription),
// sync and the record on the server, the settings, help and feedback screens, push-to-talk into
// another program's window, and a restart that finds everything as it was left. Screenshots of the
// screens go to the build's test-artifacts/app.
class WholeApplication : public ParlinoApp {
protected:
    void SetUp() override
    {
        ParlinoApp::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        std::string whyNot;
        if (!testsupport::PostgresTestServer::available(whyNot)) {
            GTEST_SKIP() << whyNot;
        }
#ifndef PASTE_TARGET_COMMAND
        GTEST_SKIP() << "tools/paste-target is not built";
#endif
        cloud = testsupport::PostgresTestServer::start();
        reported += ",sidebar,recordingsList,syncButton,helpButton,feedbackButton,helpView,feedbackView,closeHelpButton,"
                    "cancelFeedbackButton,detailTitle,detailTitleField,reTranscribeButton,settingsView,settingsForm,"
                    "rightShiftTriggerSwitch";
        std::filesystem::remove_all(artifacts);
        std::filesystem::create_directories(artifacts);
    }

    // Writes what the screen shows in `area` once it has stopped changing (or, for screens with
    // decorative motion, after a while), and checks that it looks like a painted screen.
    void screenshot(RunningApp& app, const std::string& name, const XDesktop::Rect& area)
    {
        const QImage image = stillPicture(app, area);
        const auto file = artifacts / (name + ".png");
        EXPECT_TRUE(image.save(QString::fromStdString(file.string()))) << file;
        EXPECT_EQ(implausible(image, area), "") << name;
    }
    void screenshotWindow(RunningApp& app, const std::string& name)
    {
        const auto window = app.place("parlinoWindow");
        ASSERT_TRUE(window);
        screenshot(app, name, *window);
    }

    // Opens a sheet from the recordings toolbar, takes its picture and closes it again.
    void visitSheet(RunningApp& app, const std::string& button, const std::string& sheet, const std::string& close)
    {
        ASSERT_TRUE(clickUntil(app, button, [&] { return app.place(sheet).has_value(); })) << app.output();
        ASSERT_TRUE(app.waitForPlace(close)) << app.output();
        screenshot(app, sheet, *app.place(sheet));
        ASSERT_TRUE(clickUntil(app, close, [&] { return !app.place(sheet); })) << app.output();
        app.forget(close);
    }

    // The settings pane, page by page down to its end, each page's picture taken; on the way the
    // Right Shift trigger is switched on.
    void visitSettings(RunningApp& app)
    {
        ASSERT_TRUE(clickUntil(app, "sidebar.row2", [&] { return app.place("settingsForm").has_value(); })) << app.output();
        bool switched = false;
        for (int page = 1;; ++page) {
            // Read once the picture is still: the wait for it takes in the last moves of a turn.
            screenshot(app, "settings-" + std::to_string(page), *app.place("parlinoWindow"));
            const auto view = app.place("settingsView");
            const auto form = app.place("settingsForm");
            ASSERT_TRUE(view && form) << app.output();
            const auto toggle = app.place("rightShiftTriggerSwitch");
            if (!switched && toggle && toggle->y >= view->y && toggle->y + toggle->height <= view->y + view->height) {
                click(*toggle);
                ASSERT_TRUE(app.poll([&] {
                    return platform::UserDefaults(settingsFile()).boolValue("dictationRightShiftEnabled", false);
                })) << app.output();
                switched = true;
            }
            if (form->y + form->height <= view->y + view->height + 1) {
                break;
            }
            ASSERT_LT(page, 20) << "the settings pane does not end";
            // Only where the switch is painted after the turn of the wheel counts.
            app.forget("rightShiftTriggerSwitch");
            // A turn that reached nothing (the pane still busy with the last change) is turned again.
            bool moved = false;
            for (int turn = 0; turn < 3 && !moved; ++turn) {
                desktop->scroll(view->centerX(), view->centerY(), 8);
                moved = app.waitUntil([&] {
                    const auto now = app.place("settingsForm");
                    return now && now->y != form->y;
                }, turn < 2 ? 10s : timeout);
            }
            ASSERT_TRUE(moved) << app.output();
        }
        EXPECT_TRUE(switched) << "the Right Shift switch was never in view";
    }

    platform::cloud::Database cloudDatabase() const
    {
        platform::cloud::CloudConfiguration configuration;
        configuration.url = cloud->url();
        configuration.assetCacheFolder = temporary / "cloud-assets";
        return platform::cloud::Container(parlino::CloudKitSyncManager::containerIdentifier, configuration)
            .privateCloudDatabase();
    }

    const std::filesystem::path artifacts = PARLINO_ARTIFACTS_DIR;
};

TEST_F(WholeApplication, RecordsEditsSyncsDictatesAndFindsItAllAgainAfterARestart)
{
    std::string recordingID;
    {
        auto app = launch();
        ASSERT_TRUE(app);
        ASSERT_TRUE(app->waitForLine("🧪 focus onboardingButton")) << app->output();
        for (int page = 0; page < 4; ++page) {
            desktop->tapKey("space");
        }
        ASSERT_TRUE(app->waitUntil([&] { return app->place("startRecordingButton") && app->saw("✅ Auris initialized with model: small"); }))
            << app->output();
        // The first sync, at the window's first appearance, reaches the store.
        ASSERT_TRUE(app->waitForLine("✅ CloudKit sync complete")) << app->output();
        EXPECT_FALSE(app->saw("⚠️ CloudKit sync failed")) << app->output();
        screenshotWindow(*app, "record-ready");

        // Record and stop from the main window.
        ASSERT_TRUE(startRecording(*app)) << app->output();
        screenshotWindow(*app, "recording");
        ASSERT_TRUE(stopRecording(*app)) << app->output();
        ASSERT_TRUE(app->waitForLine("☁️ Uploaded to iCloud: Hello World")) << app->output();

        auto library = sidecars(this->library());
        ASSERT_EQ(library.size(), 1u);
        recordingID = library.begin()->first;
        EXPECT_EQ(field(library.begin()->second, "transcription"), dictatedText);
        EXPECT_EQ(field(library.begin()->second, "title"), "Hello World");

        // The list shows it, alone; its row opens the detail.
        ASSERT_TRUE(app->waitForPlace("recordingsList.row0")) << app->output();
        EXPECT_FALSE(app->place("recordingsList.row1"));
        ASSERT_TRUE(clickUntil(*app, "recordingsList.row0", [&] { return app->place("detailTitle").has_value(); }))
            << app->output();
        screenshotWindow(*app, "recordings");

        // Rename: a click on the title edits it, Return keeps the new one.
        ASSERT_TRUE(clickUntil(*app, "detailTitle", [&] { return !app->place("detailTitle"); })) << app->output();
        ASSERT_TRUE(app->waitForLine("🧪 focus detailTitleField")) << app->output();
        desktop->typeText("kitchen notes");
        desktop->tapKey("Return");
        ASSERT_TRUE(app->waitForLine("✅ Title updated: kitchen notes")) << app->output();
        EXPECT_TRUE(app->poll([&] { return field(sidecars(this->library())[recordingID], "title") == "kitchen notes"; }));

        // Re-transcription writes the transcript again and keeps the typed title.
        ASSERT_TRUE(clickUntil(*app, "reTranscribeButton", "🔄 Re-transcribing recording: kitchen notes")) << app->output();
        ASSERT_TRUE(app->waitForLine("✅ Re-transcription completed successfully!")) << app->output();
        ASSERT_TRUE(app->waitForLine("💾 Metadata saved successfully")) << app->output();
        EXPECT_EQ(app->lastAfter("   New transcription: "), std::string(dictatedText) + "...");
        EXPECT_TRUE(app->saw("   Title kept (typed by the user): kitchen notes")) << app->output();
        library = sidecars(this->library());
        EXPECT_EQ(field(library[recordingID], "title"), "kitchen notes");
        EXPECT_EQ(field(library[recordingID], "transcription"), dictatedText);
        screenshotWindow(*app, "recording-detail");

        // Sync from the toolbar; the store holds the recording with its audio, and, as a record is
        // never overwritten, the title it was uploaded with.
        const auto syncs = app->count("✅ CloudKit sync complete");
        ASSERT_TRUE(clickUntil(*app, "syncButton", [&] { return app->count("✅ CloudKit sync complete") > syncs; }))
            << app->output();
        EXPECT_FALSE(app->saw("⚠️ CloudKit sync failed")) << app->output();
        const auto database = cloudDatabase();
        const platform::cloud::Record::ID recordID {
            parlino::CloudRecordStore::recordName(QUuid::fromString(QString::fromStdString(recordingID))),
            {parlino::CloudKitSyncManager::zoneName}};
        const auto record = database.fetch(recordID);
        ASSERT_TRUE(record.get<std::string>("title"));
        EXPECT_EQ(*record.get<std::string>("title"), "Hello World");
        ASSERT_TRUE(record.get<std::string>("transcription"));
        EXPECT_EQ(*record.get<std::string>("transcription"), dictatedText);
        const auto* asset = record.get<platform::cloud::Asset>("audioAsset");
        ASSERT_TRUE(asset);
        EXPECT_EQ(std::filesystem::file_size(asset->fileURL()), std::filesystem::file_size(parlinoapp::audioOf(library[recordingID])));
        // The upload's copy of the audio was the user's alone, in the program's own cache, and is gone.
        const auto uploads = home / ".cache" / "parlino" / "CloudUploads";
        EXPECT_EQ(std::filesystem::status(uploads).permissions(), std::filesystem::perms::owner_all);
        EXPECT_TRUE(std::filesystem::is_empty(uploads));

        visitSheet(*app, "helpButton", "helpView", "closeHelpButton");
        visitSheet(*app, "feedbackButton", "feedbackView", "cancelFeedbackButton");
        visitSettings(*app);

        // Push-to-talk: Right Shift held in another program's window puts the transcript there.
        std::string whyNot;
        auto target = testsupport::ChildProcess::start({PASTE_TARGET_COMMAND, "--title", "Paste target"}, whyNot,
            {.environment = {{"DISPLAY", xvfb->displayName()}, {"QT_QPA_PLATFORM", "xcb"}}});
        ASSERT_TRUE(target) << whyNot;
        const auto shown = target->waitForLine([](const std::string& line) { return line.starts_with("window "); }, timeout);
        ASSERT_TRUE(shown) << target->output();
        const unsigned long targetWindow = std::stoul(shown->substr(7));
        // Clicked until the window manager has it in front: a window just mapped may still be
        // moving to its place.
        bool inFront = false;
        for (int attempt = 0; attempt < 20 && !inFront; ++attempt) {
            const auto targetPlace = desktop->windowPlace(targetWindow);
            ASSERT_TRUE(targetPlace) << target->output();
            click(*targetPlace);
            inFront = app->poll([&] { return desktop->activeWindow() == targetWindow; }, 1s);
        }
        ASSERT_TRUE(inFront) << "the paste target never came to the front";
        const auto recordingsStarted = app->count("✅ Audio recording started");
        desktop->pressKey("Shift_R");
        ASSERT_TRUE(app->waitUntil([&] { return app->count("✅ Audio recording started") > recordingsStarted; }))
            << app->output();
        // Held longer than a tap, as a speaking user does.
        desktop->releaseKey("Shift_R", 500ms);
        const auto pasted = target->waitForLine([](const std::string& line) { return line.starts_with("text: "); }, timeout);
        ASSERT_TRUE(pasted) << target->output() << app->output();
        EXPECT_EQ(pasted->substr(6), dictatedText);
        // The dictation is kept in the library too, as the settings say.
        ASSERT_TRUE(app->poll([&] { return sidecars(this->library()).size() == 2; })) << app->output();
        for (const auto& [id, sidecar] : sidecars(this->library())) {
            EXPECT_EQ(field(sidecar, "transcription"), dictatedText) << id;
        }

        closeWindow(*app);
        expectCleanExit(*app);
    }

    // Restart: straight to the main window, the library and the settings as they were left.
    auto app = launch();
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->waitUntil([&] { return app->place("parlinoWindow") && app->saw("✅ Loaded 2 recordings"); }))
        << app->output();
    EXPECT_FALSE(app->place("onboardingButton"));
    const platform::UserDefaults settings(settingsFile());
    EXPECT_TRUE(settings.boolValue("parlino_hasSeenOnboarding", false));
    EXPECT_TRUE(settings.boolValue("dictationRightShiftEnabled", false));
    EXPECT_TRUE(settings.boolValue("saveToRecordings", false));
    const auto library = sidecars(this->library());
    ASSERT_EQ(library.size(), 2u);
    EXPECT_EQ(field(library.at(recordingID), "title"), "kitchen notes");

    ASSERT_TRUE(app->waitForPlace("sidebar.row1")) << app->output();
    ASSERT_TRUE(clickUntil(*app, "sidebar.row1", [&] { return app->place("recordingsList.row1").has_value(); }))
        << app->output();
    screenshotWindow(*app, "recordings-after-restart");
    ASSERT_TRUE(clickUntil(*app, "recordingsList.row1", [&] { return app->place("detailTitle").has_value(); }))
        << app->output();
    closeWindow(*app);
    expectCleanExit(*app);
}
