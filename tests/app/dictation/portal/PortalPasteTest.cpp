#include "app/dictation/DictationHelper.hpp"
#include "app/dictation/PortalClipboard.hpp"
#include "app/dictation/PortalPasteInput.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/support/FakeInputs.hpp"
#include "app/dictation/support/ManualClock.hpp"
#include "app/dictation/support/PortalStandIn.hpp"
#include "app/dictation/support/PrivateSessionBus.hpp"
#include "app/ui/support/FakeDictation.hpp"
#include "platform/input/Keys.hpp"
#include "support/TemporaryDirectory.hpp"

#include "qtsupport/QtTestSupport.hpp"

#include <gtest/gtest.h>

using namespace dictationtest;
using parlino::PortalPasteInput;
namespace keysym = platform::input::keysym;

namespace {

const QString restoreTokenKey = QString::fromLatin1(PortalPasteInput::restoreTokenKey);

// The keys the desktop was asked to type, as (keysym, pressed).
std::vector<std::pair<int, bool>> typedKeys(const PortalStandIn& standIn)
{
    std::vector<std::pair<int, bool>> keys;
    for (const QDBusMessage& call : standIn.calls(QStringLiteral("RemoteDesktop.NotifyKeyboardKeysym"))) {
        keys.emplace_back(call.arguments().value(2).toInt(), call.arguments().value(3).toUInt() == 1);
    }
    return keys;
}

std::vector<std::pair<int, bool>> tapped(std::initializer_list<int> keysyms)
{
    std::vector<std::pair<int, bool>> keys;
    for (const int key : keysyms) {
        keys.emplace_back(key, true);
    }
    for (auto key = std::rbegin(keysyms); key != std::rend(keysyms); ++key) {
        keys.emplace_back(*key, false);
    }
    return keys;
}

// A desktop that asks the user whenever no token it issued comes with the device selection, and
// hands out a new token each start.
struct AskingDesktop {
    int questions = 0;
    int issued = 0;
    QStringList valid;
    QString presented;

    void serve(PortalStandIn& standIn)
    {
        standIn.script(QStringLiteral("RemoteDesktop.SelectDevices"), [this](const QDBusMessage& call) {
            presented = PortalStandIn::options(call, 1).value(QStringLiteral("restore_token")).toString();
            return PortalStandIn::granted();
        });
        standIn.script(QStringLiteral("RemoteDesktop.Start"), [this](const QDBusMessage&) {
            if (!valid.contains(presented)) {
                ++questions;
            }
            valid.removeAll(presented);
            const QString token = QStringLiteral("token-%1").arg(++issued);
            valid << token;
            return PortalStandIn::granted({{QStringLiteral("devices"), 1u},
                                           {QStringLiteral("clipboard_enabled"), true},
                                           {QStringLiteral("restore_token"), token}});
        });
    }
};

class PortalPaste : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << bus.failure();
        ASSERT_TRUE(standIn.isServing());
    }

    std::shared_ptr<PortalPasteInput> startPaste(bool waitForIt = true)
    {
        auto input = std::make_shared<PortalPasteInput>(client, clock, defaults, true);
        input->start();
        if (!waitForIt) {
            return input;
        }
        EXPECT_TRUE(testsupport::processEventsUntil([&] { return input->isReady() || !input->failure().isEmpty(); },
                                                    std::chrono::seconds(10)))
            << "the session neither started nor failed";
        return input;
    }

    void settle()
    {
        ASSERT_TRUE(standIn.sync(client));
        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
    }

    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder / "parlino.conf"};
    ManualClock clock;
    PrivateSessionBus bus;
    QDBusConnection client = bus.connect(QStringLiteral("application-side"));
    PortalStandIn standIn {bus.connect(QStringLiteral("portal-side"))};
    QStringList log;
};

} // namespace

TEST_F(PortalPaste, TheDesktopAsksOnceAndLaterStartsReuseTheKeptTokenToPasteThroughItsClipboard)
{
    AskingDesktop desktop;
    desktop.serve(standIn);
    defaults.setBool(QString::fromLatin1(parlino::SettingsKeys::autoEnterAfterPaste), true);

    // First start: no token, so the desktop asks; it lends the keyboard and the clipboard.
    {
        auto input = startPaste();
        ASSERT_TRUE(input->isReady()) << input->failure().toStdString();
        EXPECT_EQ(desktop.questions, 1);
        const auto selection = standIn.calls(QStringLiteral("RemoteDesktop.SelectDevices"));
        ASSERT_EQ(selection.size(), 1u);
        const QVariantMap options = PortalStandIn::options(selection[0], 1);
        EXPECT_EQ(options.value(QStringLiteral("types")).toUInt(), 1u) << "the keyboard alone";
        EXPECT_EQ(options.value(QStringLiteral("persist_mode")).toUInt(), 2u);
        EXPECT_FALSE(options.contains(QStringLiteral("restore_token")));
        EXPECT_EQ(standIn.calls(QStringLiteral("Clipboard.RequestClipboard")).size(), 1u);
        EXPECT_EQ(defaults.stringValue(restoreTokenKey), QStringLiteral("token-1"));

        // The paste road: the text on the session's clipboard, then Ctrl+V and Return.
        auto* qtClipboard = new uitest::FakeClipboard;
        parlino::PortalClipboard clipboard(input, std::unique_ptr<uitest::FakeClipboard>(qtClipboard));
        FakeSoundPlayer sounds;
        parlino::DictationHelper helper({defaults, clipboard, *input, sounds, clock, [this](const QString& line) { log << line; }});
        helper.pasteIntoApplication(QStringLiteral("Dobrý deň"), platform::input::FrontWindow {});
        clock.advance(std::chrono::seconds(2));
        settle();
        auto expected = tapped({int(keysym::controlLeft), int(keysym::v)});
        for (const auto& key : tapped({int(keysym::returnKey)})) {
            expected.push_back(key);
        }
        EXPECT_EQ(typedKeys(standIn), expected) << log.join(QLatin1Char('\n')).toStdString();
        const auto offers = standIn.calls(QStringLiteral("Clipboard.SetSelection"));
        ASSERT_EQ(offers.size(), 1u);
        EXPECT_TRUE(PortalStandIn::options(offers[0], 1).value(QStringLiteral("mime_types")).toStringList().contains(
            QStringLiteral("text/plain;charset=utf-8")));
        EXPECT_EQ(qtClipboard->contents, QStringLiteral("Dobrý deň"));

        // The application in front pastes: the desktop fetches the text from us.
        standIn.sendSelectionTransfer(standIn.lastSession(QStringLiteral("RemoteDesktop")), QStringLiteral("text/plain;charset=utf-8"), 7);
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return !standIn.calls(QStringLiteral("Clipboard.SelectionWriteDone")).empty(); }, std::chrono::seconds(10)));
        const auto done = standIn.calls(QStringLiteral("Clipboard.SelectionWriteDone"))[0];
        EXPECT_EQ(done.arguments().value(1).toUInt(), 7u);
        EXPECT_TRUE(done.arguments().value(2).toBool());
        EXPECT_EQ(QString::fromUtf8(standIn.readSelection(7)), QStringLiteral("Dobrý deň"));
        // A type we did not offer is turned down.
        standIn.sendSelectionTransfer(standIn.lastSession(QStringLiteral("RemoteDesktop")), QStringLiteral("image/png"), 8);
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return standIn.calls(QStringLiteral("Clipboard.SelectionWriteDone")).size() == 2; }, std::chrono::seconds(10)));
        EXPECT_FALSE(standIn.calls(QStringLiteral("Clipboard.SelectionWriteDone"))[1].arguments().value(2).toBool());

        // Text typed key by key where no clipboard serves.
        const auto before = typedKeys(standIn).size();
        input->typeText(QStringLiteral("až"));
        settle();
        const auto keys = typedKeys(standIn);
        const std::vector<std::pair<int, bool>> typed(keys.begin() + long(before), keys.end());
        EXPECT_EQ(typed, (std::vector<std::pair<int, bool>> {{'a', true}, {'a', false}, {0x0100017e, true}, {0x0100017e, false}}));
    }
    ASSERT_TRUE(testsupport::processEventsUntil(
        [&] { return standIn.calls(QStringLiteral("Session.Close")).size() == 1; }, std::chrono::seconds(10)))
        << "the session outlived its owner";

    // Later dictations present the kept token and are not asked again; each keeps the newest token.
    // Keys asked for while the session starts are typed once it runs.
    for (int start = 2; start <= 3; ++start) {
        const auto typedBefore = typedKeys(standIn).size();
        auto input = startPaste(false);
        input->postPaste();
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return input->isReady() || !input->failure().isEmpty(); },
                                                    std::chrono::seconds(10)));
        ASSERT_TRUE(input->isReady()) << input->failure().toStdString();
        settle();
        EXPECT_EQ(typedKeys(standIn).size(), typedBefore + 4) << "the Ctrl+V asked for during the start";
        EXPECT_EQ(desktop.questions, 1) << "asked again at start " << start;
        EXPECT_EQ(desktop.presented, QStringLiteral("token-%1").arg(start - 1));
        EXPECT_EQ(defaults.stringValue(restoreTokenKey), QStringLiteral("token-%1").arg(start));
    }
}

TEST_F(PortalPaste, ARefusedSilentOrRevokedKeyboardFailsThePasteAndKeepsTheTextOnTheClipboard)
{
    defaults.setString(restoreTokenKey, QStringLiteral("revoked"));
    standIn.script(QStringLiteral("RemoteDesktop.Start"), [](const QDBusMessage&) { return PortalStandIn::answered(2); });
    auto input = startPaste();
    EXPECT_FALSE(input->isReady());
    EXPECT_TRUE(input->failure().contains(QStringLiteral("was refused"))) << input->failure().toStdString();
    EXPECT_FALSE(defaults.contains(restoreTokenKey)) << "a token the desktop refused is dropped, so the next start asks";

    // The paste keeps the text on the clipboard, says why, and starts the session again.
    uitest::FakeClipboard clipboard;
    FakeSoundPlayer sounds;
    parlino::DictationHelper helper({defaults, clipboard, *input, sounds, clock, [this](const QString& line) { log << line; }});
    const auto starts = standIn.calls(QStringLiteral("RemoteDesktop.Start")).size();
    standIn.script(QStringLiteral("RemoteDesktop.Start"), [](const QDBusMessage&) { return PortalStandIn::silent(); });
    helper.pasteAtCursor(QStringLiteral("kept"));
    clock.advance(std::chrono::seconds(1));
    settle();
    EXPECT_EQ(clipboard.contents, QStringLiteral("kept"));
    EXPECT_TRUE(log.join(QLatin1Char('\n')).contains(QStringLiteral("Paste failed: the desktop's remote keyboard was refused")))
        << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(typedKeys(standIn).empty());

    // That start is never answered: it ends at the time limit, and the next paste says so.
    ASSERT_TRUE(testsupport::processEventsUntil(
        [&] { return standIn.calls(QStringLiteral("RemoteDesktop.Start")).size() > starts; },
        std::chrono::seconds(10)));
    settle();
    clock.advance(std::chrono::duration_cast<std::chrono::milliseconds>(platform::portal::RemoteDesktopPortal::startLimit));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !input->failure().isEmpty(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(input->failure().contains(QStringLiteral("got no answer"))) << input->failure().toStdString();
    EXPECT_THROW(input->postReturn(), std::runtime_error);

    // A session the desktop withdraws later (the user revoked it) fails the next paste the same way.
    standIn.script(QStringLiteral("RemoteDesktop.Start"),
                   [](const QDBusMessage&) { return PortalStandIn::granted({{QStringLiteral("devices"), 1u}}); });
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return input->isReady(); }, std::chrono::seconds(10)));
    EXPECT_FALSE(input->portal().hasClipboard());
    standIn.sendSessionClosed(standIn.lastSession(QStringLiteral("RemoteDesktop")));
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !input->isReady(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(input->failure().contains(QStringLiteral("withdrawn"))) << input->failure().toStdString();
}
