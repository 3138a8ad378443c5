#include "app/dictation/GlobalHotkeyManager.hpp"
#include "app/dictation/PortalHotkeyInput.hpp"
#include "app/dictation/PortalTriggerInput.hpp"
#include "app/dictation/support/DictationRoad.hpp"
#include "app/dictation/support/PortalStandIn.hpp"
#include "app/dictation/support/PrivateSessionBus.hpp"
#include "platform/portal/GlobalShortcutsPortal.hpp"

#include "qtsupport/QtTestSupport.hpp"

#include <gtest/gtest.h>

using namespace dictationtest;
using parlino::GlobeDictationManager;
using parlino::PortalTriggerInput;
using platform::portal::GlobalShortcutsPortal;
using platform::portal::PortalShortcut;
using platform::portal::PortalShortcutList;

namespace {

// The push-to-talk road on a desktop whose triggers come from the global shortcuts portal: the
// real manager and portal client on a private bus, the portal played by the stand-in.
class PortalTrigger : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << bus.failure();
        platform::portal::registerShortcutTypes();
    }

    void TearDown() override
    {
        road.manager.reset();
        input.reset();
        standIn.reset();
    }

    void servePortal()
    {
        standIn = std::make_unique<PortalStandIn>(bus.connect(QStringLiteral("portal-side")));
        ASSERT_TRUE(standIn->isServing());
    }

    GlobeDictationManager& createManager()
    {
        input = std::make_unique<PortalTriggerInput>(client, road.clock);
        road.manager = std::make_unique<GlobeDictationManager>(GlobeDictationManager::Dependencies {
            road.defaults, road.recorder, road.library, road.helper, *input, road.clock,
            [this](const QString& line) { road.log << line; }});
        return *road.manager;
    }

    // Waits for the `count`th binding to be answered.
    void waitForBinding(std::size_t count)
    {
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return standIn->calls(QStringLiteral("GlobalShortcuts.BindShortcuts")).size() >= count; },
            std::chrono::seconds(10)))
            << "the shortcut was never bound";
        ASSERT_TRUE(standIn->sync(client));
        RoadSettle();
    }

    void press()
    {
        standIn->sendActivated(standIn->lastSession(QStringLiteral("GlobalShortcuts")), QStringLiteral("dictate"), 1);
        ASSERT_TRUE(standIn->sync(client));
        RoadSettle();
    }

    void release()
    {
        standIn->sendDeactivated(standIn->lastSession(QStringLiteral("GlobalShortcuts")), QStringLiteral("dictate"), 2);
        ASSERT_TRUE(standIn->sync(client));
        RoadSettle();
    }

    static void RoadSettle() { DictationRoad::settle(); }

    // Waits until the manager says what stands in the way.
    QString waitForMissingText(GlobeDictationManager& manager)
    {
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return manager.needsAccessibilityPermission(); },
                                                    std::chrono::seconds(10)))
            << "the failure was never reported";
        return manager.missingPermissionText();
    }

    PrivateSessionBus bus;
    QDBusConnection client = bus.connect(QStringLiteral("application-side"));
    std::unique_ptr<PortalStandIn> standIn;
    DictationRoad road;
    std::unique_ptr<PortalTriggerInput> input;
};

} // namespace

TEST_F(PortalTrigger, TheDictateShortcutIsPushToTalkWhereReleasesArriveAndAToggleWhereTheyDoNot)
{
    servePortal();
    standIn->script(QStringLiteral("GlobalShortcuts.BindShortcuts"), [](const QDBusMessage& call) {
        // The desktop answers with what it bound, as the user set it in its dialog.
        PortalShortcutList bound;
        for (const PortalShortcut& shortcut : qdbus_cast<PortalShortcutList>(call.arguments().value(1).value<QDBusArgument>())) {
            bound << PortalShortcut {shortcut.id, {{QStringLiteral("description"), shortcut.properties.value(QStringLiteral("description"))},
                                                   {QStringLiteral("trigger_description"), QStringLiteral("Ctrl+Alt+D")}}};
        }
        return PortalStandIn::granted({{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
    });
    auto& manager = createManager();
    waitForBinding(1);
    // The start afresh a second after creation binds in a new session and closes the first.
    road.advance(1000);
    waitForBinding(2);
    EXPECT_EQ(standIn->calls(QStringLiteral("Session.Close")).size(), 1u);
    const auto binding = standIn->calls(QStringLiteral("GlobalShortcuts.BindShortcuts")).back();
    const auto asked = qdbus_cast<PortalShortcutList>(binding.arguments().value(1).value<QDBusArgument>());
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].id, QStringLiteral("dictate"));
    EXPECT_EQ(asked[0].properties.value(QStringLiteral("description")).toString(), QStringLiteral("Dictate"));
    EXPECT_TRUE(input->notice().find("Ctrl+Alt+D") != std::string::npos) << input->notice();
    EXPECT_TRUE(input->notice().find("Right Shift and Caps Lock") != std::string::npos) << input->notice();
    // Settings shows it, with the trigger the desktop answered after the tap started, while the shortcut serves the triggers.
    EXPECT_TRUE(manager.triggerNoticeText().contains(QStringLiteral("Right Shift and Caps Lock")))
        << manager.triggerNoticeText().toStdString();
    EXPECT_TRUE(manager.triggerNoticeText().contains(QStringLiteral("Hold Ctrl+Alt+D")))
        << manager.triggerNoticeText().toStdString();
    EXPECT_FALSE(manager.needsAccessibilityPermission());

    // Held past the Right Ctrl threshold: starts; the release stops and the text goes to "another window".
    press();
    road.advance(699);
    EXPECT_EQ(road.recorder.startCalls, 0);
    road.advance(1);
    EXPECT_EQ(road.recorder.startCalls, 1);
    road.advance(1500);
    release();
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QStringLiteral("held words"));
    ASSERT_EQ(road.helper.pastes.size(), 1u);
    EXPECT_EQ(road.helper.pastes[0], QStringLiteral("held words"));
    ASSERT_TRUE(road.helper.targets[0]);
    EXPECT_EQ(road.helper.targets[0]->window, 0u);

    // Released by the user before the threshold: nothing starts.
    press();
    road.advance(500);
    release();
    road.advance(1000);
    EXPECT_EQ(road.recorder.startCalls, 1);

    // A desktop that reports the release with the press: the press latches, the next one ends it.
    press();
    release();
    road.advance(700);
    EXPECT_EQ(road.recorder.startCalls, 2);
    road.advance(5000);
    EXPECT_EQ(road.recorder.stopCalls, 1) << "a latched press keeps dictating";
    press();
    EXPECT_EQ(road.recorder.stopCalls, 2);
    release();
    road.transcribe(QStringLiteral("toggled words"));
    ASSERT_EQ(road.helper.pastes.size(), 2u);
    EXPECT_EQ(road.helper.pastes[1], QStringLiteral("toggled words"));

    // A desktop that never reports releases: every press toggles.
    press();
    road.advance(700);
    EXPECT_EQ(road.recorder.startCalls, 3);
    press();
    EXPECT_EQ(road.recorder.stopCalls, 3);
    road.transcribe(QStringLiteral("third"));

    // Presses of another shortcut or session are not ours.
    standIn->sendActivated(QStringLiteral("/org/freedesktop/portal/desktop/session/other/x"), QStringLiteral("dictate"), 9);
    standIn->sendActivated(standIn->lastSession(QStringLiteral("GlobalShortcuts")), QStringLiteral("other"), 9);
    ASSERT_TRUE(standIn->sync(client));
    road.advance(2000);
    EXPECT_EQ(road.recorder.startCalls, 3);

    // Switching the last trigger off closes the session.
    const auto closes = standIn->calls(QStringLiteral("Session.Close")).size();
    manager.setCapsLockTriggerEnabled(false);
    manager.setGlobeTriggerEnabled(false);
    ASSERT_TRUE(testsupport::processEventsUntil(
        [&] { return standIn->calls(QStringLiteral("Session.Close")).size() > closes; }, std::chrono::seconds(10)));
}

TEST_F(PortalTrigger, AMissingRefusingSilentOrWithdrawingPortalStopsTheTriggerAndSaysWhy)
{
    // No portal on the bus at all.
    {
        auto& manager = createManager();
        EXPECT_TRUE(waitForMissingText(manager).contains(QStringLiteral("is not offered by this desktop")))
            << manager.missingPermissionText().toStdString();
        road.manager.reset();
    }

    servePortal();
    // The user declines the desktop's dialog, then the desktop refuses on its own.
    for (const auto& [response, phrase] : {std::pair {1u, "was declined"}, std::pair {2u, "was refused by the desktop"}}) {
        standIn->script(QStringLiteral("GlobalShortcuts.BindShortcuts"),
                        [response = response](const QDBusMessage&) { return PortalStandIn::answered(response); });
        auto& manager = createManager();
        EXPECT_TRUE(waitForMissingText(manager).contains(QString::fromLatin1(phrase))) << manager.missingPermissionText().toStdString();
        road.manager.reset();
    }

    // A portal that never answers: nothing happens until the time limit, then the request is closed.
    standIn->script(QStringLiteral("GlobalShortcuts.BindShortcuts"), [](const QDBusMessage&) { return PortalStandIn::silent(); });
    const auto before = standIn->calls(QStringLiteral("GlobalShortcuts.BindShortcuts")).size();
    auto& manager = createManager();
    waitForBinding(before + 1);
    road.advance(1000);
    waitForBinding(before + 2);
    road.advance(int(GlobalShortcutsPortal::bindLimit.count()) - 1);
    EXPECT_FALSE(manager.needsAccessibilityPermission());
    road.advance(1);
    EXPECT_TRUE(waitForMissingText(manager).contains(QStringLiteral("got no answer"))) << manager.missingPermissionText().toStdString();
    ASSERT_TRUE(testsupport::processEventsUntil(
        [&] { return !standIn->calls(QStringLiteral("Request.Close")).empty(); }, std::chrono::seconds(10)))
        << "the unanswered request was left open";

    // Retried from Settings with the portal answering; then withdrawn by the desktop during a hold:
    // the running dictation stops and keeps its words.
    standIn->script(QStringLiteral("GlobalShortcuts.BindShortcuts"), [](const QDBusMessage&) { return PortalStandIn::granted(); });
    const auto bindings = standIn->calls(QStringLiteral("GlobalShortcuts.BindShortcuts")).size();
    manager.startEventTap();
    waitForBinding(bindings + 1);
    EXPECT_FALSE(manager.needsAccessibilityPermission());
    press();
    road.advance(700);
    EXPECT_EQ(road.recorder.startCalls, 1);
    standIn->sendSessionClosed(standIn->lastSession(QStringLiteral("GlobalShortcuts")));
    EXPECT_TRUE(waitForMissingText(manager).contains(QStringLiteral("withdrawn"))) << manager.missingPermissionText().toStdString();
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QStringLiteral("kept words"));
    ASSERT_EQ(road.helper.pastes.size(), 1u);
    EXPECT_EQ(road.helper.pastes[0], QStringLiteral("kept words"));
}

TEST_F(PortalTrigger, TheUsersHotkeyIsOfferedToTheDesktopAndItsPressesRunTheAction)
{
    servePortal();
    ManualClock clock;
    parlino::PortalHotkeyInput input(client, clock);
    parlino::GlobalHotkeyManager manager({road.defaults, input, [this](const QString& line) { road.log << line; }});
    int presses = 0;
    manager.setOnHotkeyPressed([&] { ++presses; });

    // Control+Option+Space in the stored notation.
    ASSERT_TRUE(manager.registerHotkey(0x0C0000, 49));
    ASSERT_TRUE(testsupport::processEventsUntil(
        [&] { return !standIn->calls(QStringLiteral("GlobalShortcuts.BindShortcuts")).empty(); }, std::chrono::seconds(10)));
    const auto asked = qdbus_cast<PortalShortcutList>(
        standIn->calls(QStringLiteral("GlobalShortcuts.BindShortcuts"))[0].arguments().value(1).value<QDBusArgument>());
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].properties.value(QStringLiteral("preferred_trigger")).toString(), QStringLiteral("CTRL+ALT+space"));
    ASSERT_TRUE(standIn->sync(client));

    standIn->sendActivated(standIn->lastSession(QStringLiteral("GlobalShortcuts")), QStringLiteral("hotkey"), 1);
    standIn->sendDeactivated(standIn->lastSession(QStringLiteral("GlobalShortcuts")), QStringLiteral("hotkey"), 2);
    ASSERT_TRUE(standIn->sync(client));
    RoadSettle();
    EXPECT_EQ(presses, 1) << "a press runs the action once; its release nothing";

    // A lone modifier cannot be a desktop shortcut; other combinations are spelled the shortcuts' way.
    EXPECT_THROW(parlino::PortalHotkeyInput::triggerOf(platform::input::keysym::shiftRight, 0), std::invalid_argument);
    EXPECT_EQ(parlino::PortalHotkeyInput::triggerOf('k', platform::input::modifier::mod4 | platform::input::modifier::shift),
              QStringLiteral("SHIFT+LOGO+k"));

    // The desktop refusing the binding is said.
    standIn->script(QStringLiteral("GlobalShortcuts.BindShortcuts"), [](const QDBusMessage&) { return PortalStandIn::answered(2); });
    ASSERT_TRUE(manager.registerHotkey(0x0C0000, 40));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !input.failure().isEmpty(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(input.failure().contains(QStringLiteral("was refused"))) << input.failure().toStdString();
}
