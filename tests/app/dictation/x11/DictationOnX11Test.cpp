#include "app/dictation/x11/X11Desktop.hpp"

#include "app/dictation/DictationHelper.hpp"
#include "app/dictation/GlobeDictationManager.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/X11PasteInput.hpp"
#include "app/dictation/X11TriggerInput.hpp"
#include "app/dictation/support/ManualClock.hpp"
#include "app/ui/support/FakeDictation.hpp"
#include "app/ui/support/FakeLibrary.hpp"
#include "app/ui/support/FakeRecorder.hpp"
#include "platform/audio/EventSounds.hpp"
#include "platform/input/CapsLockMonitor.hpp"
#include "platform/input/InputTestSupport.hpp"
#include "qtsupport/QtTestSupport.hpp"
#include "support/AudioFixtures.hpp"
#include "support/PulseAudioTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QStringList>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace std::chrono_literals;
using parlino::GlobeDictationManager;
using Trigger = parlino::GlobeDictationService::Trigger;
namespace keysym = platform::input::keysym;
namespace SettingsKeys = parlino::SettingsKeys;
using testsupport::processEventsUntil;

namespace {

const QString sentence = QStringLiteral("The quick brown fox pastes itself.");

// Interleaved 48 kHz stereo samples of spoken text, as the test microphone takes them.
std::vector<float> speechSamples(const testsupport::TemporaryDirectory& folder)
{
    const auto wav = testsupport::speak("This is a test of dictation into another window, spoken slowly and clearly.",
                                        folder / "speech.wav");
    if (!wav || !testsupport::commandExists("sox")) {
        return {};
    }
    const auto raw = folder / "speech.raw";
    const std::string command = "sox '" + wav->string() + "' -r 48000 -c 2 -e floating-point -b 32 -t raw '" + raw.string()
                                + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    std::ifstream in(raw, std::ios::binary);
    std::vector<float> samples(std::filesystem::file_size(raw) / sizeof(float));
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    return samples;
}

// Helper and trigger manager on the test's X server with the given recorder.
struct X11Road {
    using Keysym = platform::input::Keysym;

    explicit X11Road(parlino::RecorderService& recorder, platform::SoundServerOptions sound = {})
        : recorder(recorder)
        , sounds(std::move(sound))
    {
        defaults.setBool(QString::fromLatin1(SettingsKeys::dictationRightShiftEnabled), true);
        manager = std::make_unique<GlobeDictationManager>(GlobeDictationManager::Dependencies {
            defaults, recorder, library, helper, triggerInput, clock, [this](const QString& line) { log << line; }});
    }

    // Presses or releases a key and waits until the manager has heard it.
    void press(Keysym key, Trigger trigger)
    {
        keyboard.press(key);
        EXPECT_TRUE(processEventsUntil([&] { return manager->isTriggerHeld(trigger); }, x11test::patience));
    }
    void release(Keysym key, Trigger trigger)
    {
        keyboard.release(key);
        EXPECT_TRUE(processEventsUntil([&] { return !manager->isTriggerHeld(trigger); }, x11test::patience));
    }
    void advance(std::chrono::milliseconds span)
    {
        clock.advance(span);
        QCoreApplication::processEvents();
    }
    // Lets the paste road run once the helper has put the text on the clipboard.
    void pasteWhenReady(const QString& text)
    {
        EXPECT_TRUE(processEventsUntil([&] { return clipboard.text() == text; }, x11test::patience));
        advance(std::chrono::milliseconds(500));
    }

    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder / "parlino.conf"};
    parlino::RecorderService& recorder;
    uitest::FakeLibrary library {folder.path()};
    dictationtest::ManualClock clock;
    QStringList log;
    parlino::SystemClipboard clipboard;
    parlino::X11PasteInput pasteInput {x11test::server()->displayName()};
    parlino::ThemeSoundPlayer sounds;
    parlino::DictationHelper helper {{defaults, clipboard, pasteInput, sounds, clock, [this](const QString& line) { log << line; }}};
    parlino::X11TriggerInput triggerInput {x11test::server()->displayName()};
    inputtests::FakeKeyboard keyboard {x11test::server()->displayName()};
    std::unique_ptr<GlobeDictationManager> manager;
};

int newSinkInputs(const testsupport::ChildProcess& subscription)
{
    const std::string output = subscription.output();
    int count = 0;
    for (std::size_t at = output.find("'new' on sink-input"); at != std::string::npos; at = output.find("'new' on sink-input", at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

TEST(DictationOnX11, RightShiftHeldWhileSpeakingPastesTheTranscriptIntoTheTargetWindow)
{
    X11_DESKTOP_OR_SKIP();
    if (x11test::pasteTargetProgram().empty()) {
        GTEST_SKIP() << "tools/paste-target is not built";
    }
    std::string whyNot;
    auto sound = testsupport::PulseAudioTestServer::start(whyNot);
    if (!sound) {
        GTEST_SKIP() << "no PulseAudio server: " << whyNot;
    }
    testsupport::TemporaryDirectory scratch;
    const auto speech = speechSamples(scratch);
    if (speech.empty()) {
        GTEST_SKIP() << "espeak-ng or sox is missing";
    }
    if (!platform::EventSounds().find(parlino::ThemeSoundPlayer::themeName(parlino::FeedbackSound::start))) {
        GTEST_SKIP() << "the freedesktop sound theme (sound-theme-freedesktop) is not installed";
    }
    auto sinkInputs = testsupport::ChildProcess::start({"pactl", "--server=" + sound->address(), "subscribe"}, whyNot);
    ASSERT_TRUE(sinkInputs) << whyNot;

    x11test::PasteTarget target("Dictation target");
    ASSERT_TRUE(x11test::bringToFront(target.window()));
    platform::UserDefaults recorderDefaults(scratch / "recorder.conf");
    x11test::CaptureRecorder recorder(recorderDefaults, sound->address(), sentence);
    recorder.setAurisReady(true);
    X11Road road(recorder, {.server = sound->address()});
    ASSERT_TRUE(road.manager->isEventTapRunning()) << road.log.join('\n').toStdString();

    road.press(keysym::shiftRight, Trigger::rightShift);
    ASSERT_TRUE(road.manager->previousFrontmostApp());
    EXPECT_EQ(road.manager->previousFrontmostApp()->window, target.window());
    road.advance(300ms);
    ASSERT_TRUE(processEventsUntil([&] { return recorder.isRecording(); }, x11test::patience)) << road.log.join('\n').toStdString();
    {
        x11test::Feeder feeder([&](const std::atomic<bool>& cancel) { sound->feed(speech, 60s, &cancel); });
        ASSERT_TRUE(processEventsUntil([&] { return recorder.speechSeconds() >= x11test::CaptureRecorder::speechNeeded; },
                                       x11test::patience)) << sound->log();
    }
    // Held 2 s in all.
    road.advance(1700ms);
    road.release(keysym::shiftRight, Trigger::rightShift);
    EXPECT_EQ(recorder.stopCalls, 1);
    road.pasteWhenReady(sentence);
    EXPECT_TRUE(target.waitForText(sentence.toStdString())) << target.output() << road.log.join('\n').toStdString();
    // Ping at the start, Pop at the stop, Glass at the paste, each a stream into the null sink.
    EXPECT_TRUE(processEventsUntil([&] { return newSinkInputs(*sinkInputs) >= 3; }, x11test::patience)) << sinkInputs->output();
    road.advance(1500ms);
    EXPECT_FALSE(road.manager->isActive());

    // A 0.2 s hold does nothing.
    road.press(keysym::shiftRight, Trigger::rightShift);
    road.advance(200ms);
    road.release(keysym::shiftRight, Trigger::rightShift);
    road.advance(2000ms);
    EXPECT_EQ(recorder.startCalls, 1);
    EXPECT_FALSE(road.manager->isActive());
}

TEST(DictationOnX11, CapsLockAndRightCtrlDictateIntoTheWindowThatWasInFrontWhenTheyWentDown)
{
    X11_DESKTOP_OR_SKIP();
    if (x11test::pasteTargetProgram().empty()) {
        GTEST_SKIP() << "tools/paste-target is not built";
    }
    testsupport::TemporaryDirectory scratch;
    platform::UserDefaults recorderDefaults(scratch / "recorder.conf");
    uitest::FakeRecorder recorder(recorderDefaults);
    recorder.setAurisReady(true);
    x11test::PasteTarget windowB("Window B");
    ASSERT_TRUE(x11test::bringToFront(windowB.window()));
    x11test::PasteTarget windowA("Window A");
    ASSERT_TRUE(x11test::bringToFront(windowA.window()));
    X11Road road(recorder);
    ASSERT_TRUE(road.manager->isEventTapRunning()) << road.log.join('\n').toStdString();
    const auto finish = [&](const QString& text) {
        ASSERT_TRUE(processEventsUntil([&] { return recorder.hasPendingStop(); }, x11test::patience));
        recorder.finishStop({std::nullopt, text, 1.0, std::nullopt});
        if (!text.isEmpty()) {
            road.pasteWhenReady(text);
        }
    };

    // Caps Lock on, then off: one dictation, and the lock ends off.
    road.keyboard.tap(keysym::capsLock);
    ASSERT_TRUE(processEventsUntil([&] { return recorder.isRecording(); }, x11test::patience));
    road.keyboard.tap(keysym::capsLock);
    finish(QStringLiteral("caps dictation"));
    EXPECT_TRUE(windowA.waitForText("caps dictation")) << windowA.output() << road.log.join('\n').toStdString();
    EXPECT_FALSE(platform::input::CapsLockMonitor(x11test::server()->displayName(), {}).isOn());
    road.advance(1500ms);

    // Right Ctrl held 0.5 s, or held 1 s with Shift down: nothing.
    road.press(keysym::controlRight, Trigger::globe);
    road.advance(500ms);
    road.release(keysym::controlRight, Trigger::globe);
    road.advance(1000ms);
    road.keyboard.press(keysym::shiftLeft);
    road.keyboard.press(keysym::controlRight);
    // Held with Shift the key never counts as pressed; a later trigger key shows the tap has caught up.
    road.press(keysym::shiftRight, Trigger::rightShift);
    road.advance(1000ms);
    road.keyboard.release(keysym::controlRight);
    road.keyboard.release(keysym::shiftLeft);
    EXPECT_EQ(recorder.startCalls, 2) << "only Right Shift's hold started";
    road.release(keysym::shiftRight, Trigger::rightShift);
    finish(QString());
    road.advance(1500ms);

    // A wheel step or another key during Right Ctrl's hold makes a chord: no dictation.
    const auto chord = [&](const std::function<void()>& otherInput) {
        road.press(keysym::controlRight, Trigger::globe);
        otherInput();
        EXPECT_TRUE(processEventsUntil([&] { return !road.manager->isTriggerHeld(Trigger::globe); }, x11test::patience));
        road.advance(1000ms);
        road.keyboard.release(keysym::controlRight);
    };
    chord([&] { road.keyboard.click(4); });
    chord([&] { road.keyboard.tap(keysym::shiftLeft); });
    EXPECT_EQ(recorder.startCalls, 2) << "a chord started a dictation";

    // Right Ctrl held 1 s in window A while window B comes forward: the text lands in A.
    ASSERT_TRUE(x11test::bringToFront(windowA.window()));
    road.press(keysym::controlRight, Trigger::globe);
    road.advance(1000ms);
    ASSERT_TRUE(processEventsUntil([&] { return recorder.isRecording(); }, x11test::patience));
    ASSERT_TRUE(x11test::bringToFront(windowB.window()));
    road.release(keysym::controlRight, Trigger::globe);
    ASSERT_TRUE(processEventsUntil([&] { return recorder.hasPendingStop(); }, x11test::patience));
    recorder.finishStop({std::nullopt, QStringLiteral("meant for A"), 1.0, std::nullopt});
    ASSERT_TRUE(processEventsUntil([&] { return x11test::isInFront(windowA.window()); }, x11test::patience));
    road.pasteWhenReady(QStringLiteral("meant for A"));
    EXPECT_TRUE(windowA.waitForText("meant for A")) << windowA.output() << road.log.join('\n').toStdString();
    EXPECT_EQ(windowB.output().find("meant for A"), std::string::npos);
    EXPECT_EQ(recorder.startCalls, 3);
}

TEST(DictationOnX11, WithoutRecordThePermissionIsMissingAndSaysWhat)
{
    X11_DESKTOP_OR_SKIP();
    std::string whyNot;
    auto bare = testsupport::XvfbTestServer::start(whyNot, {.disabledExtensions = {"RECORD"}});
    ASSERT_TRUE(bare) << whyNot;
    testsupport::TemporaryDirectory scratch;
    platform::UserDefaults defaults(scratch / "parlino.conf");
    uitest::FakeRecorder recorder(defaults);
    uitest::FakeLibrary library(scratch.path());
    uitest::FakeDictationHelper helper;
    parlino::X11TriggerInput input(bare->displayName());
    dictationtest::ManualClock clock;
    QStringList log;
    GlobeDictationManager manager({defaults, recorder, library, helper, input, clock, [&](const QString& line) { log << line; }});
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    EXPECT_FALSE(manager.isEventTapRunning());
    EXPECT_TRUE(manager.missingPermissionText().contains(QStringLiteral("the X server has no RECORD extension")))
        << manager.missingPermissionText().toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("🎙️ Push-to-talk: No Accessibility permission")));
}
