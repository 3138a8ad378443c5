#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/settings/ShortcutFieldView.hpp"
#include "app/ui/settings/ShortcutRecorderView.hpp"
#include "platform/input/KeyCodeMapping.hpp"

#include <QLabel>
#include <QTest>
#include <QToolButton>

using namespace parlino;
using namespace uitest;
namespace flag = platform::input::modifierFlag;

namespace {

class ShortcutRecorder : public UiTest {
protected:
    ShortcutRecorder() { showAt(view, {600, 200}); }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &view, key, modifiers);
    }

    QString error() const { return view.errorMessage().value_or(QString()); }

    ShortcutRecorderView view {hotkey};
    ShortcutFieldView* field = view.findChild<ShortcutFieldView*>(QStringLiteral("shortcutField"));
};

} // namespace

TEST_F(ShortcutRecorder, ChecksTheCapturedCombinationAndLetsTheHotkeyGoWhileRecording)
{
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Click to record..."));
    EXPECT_FALSE(child<QWidget>(view, "hotkeyActiveLine")->isVisible());
    EXPECT_FALSE(child<QToolButton>(view, "clearHotkeyButton")->isVisible());

    // The system's own combination (Super+Q here): refused with its message.
    click(field);
    EXPECT_TRUE(field->isRecording());
    EXPECT_EQ(hotkey.pauses, 1);
    press(Qt::Key_Q, Qt::MetaModifier);
    EXPECT_FALSE(field->isRecording());
    EXPECT_EQ(error(), QStringLiteral("⚠️ This shortcut is used by the system"));
    EXPECT_TRUE(hotkey.registrations.empty());

    // Modifier keys alone keep the capture going; a bare letter, arrow or function key is refused.
    for (Qt::Key bare : {Qt::Key_K, Qt::Key_Left, Qt::Key_F5}) {
        click(field);
        press(Qt::Key_Shift, Qt::ShiftModifier);
        EXPECT_TRUE(field->isRecording());
        press(bare);
        EXPECT_EQ(error(), QStringLiteral("⚠️ Please use at least one modifier key (Super, Ctrl, Alt, Shift)"));
    }
    EXPECT_TRUE(hotkey.registrations.empty());
    EXPECT_EQ(hotkey.resumes, hotkey.pauses) << "every refused capture gives the former hotkey back";

    click(field);
    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(hotkey.registrations.size(), 1u);
    EXPECT_EQ(hotkey.registrations[0].modifiers, flag::control | flag::option);
    EXPECT_EQ(hotkey.registrations[0].keyCode, 40);
    EXPECT_FALSE(view.errorMessage());
    EXPECT_FALSE(view.isRecording());
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_TRUE(child<QToolButton>(view, "clearHotkeyButton")->isVisible());
    EXPECT_TRUE(child<QWidget>(view, "hotkeyActiveLine")->isVisible());
    EXPECT_EQ(child<QLabel>(view, "hotkeyActiveText")->text(), QStringLiteral("Hotkey active: Ctrl+Alt+K"));

    // While a new one is recorded the active line goes: the combination is not grabbed meanwhile.
    // The row redraws when the hotkey lets go, but the field keeps saying it waits for keys.
    click(field);
    EXPECT_FALSE(hotkey.isHotkeyEnabled());
    EXPECT_FALSE(child<QWidget>(view, "hotkeyActiveLine")->isVisible());
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Press keys..."));
    hotkey.refuseRegistrations = true;
    press(Qt::Key_J, Qt::ControlModifier);
    EXPECT_EQ(error(), QStringLiteral("❌ Failed to register hotkey. Try a different combination."));
    EXPECT_TRUE(hotkey.isHotkeyEnabled());
    EXPECT_TRUE(child<QWidget>(view, "hotkeyActiveLine")->isVisible());
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Ctrl+Alt+K"));

    click(child<QToolButton>(view, "clearHotkeyButton"));
    EXPECT_EQ(hotkey.clears, 1);
    EXPECT_FALSE(view.errorMessage());
    EXPECT_EQ(field->shortcutText(), QStringLiteral("Click to record..."));
    EXPECT_FALSE(child<QToolButton>(view, "clearHotkeyButton")->isVisible());
    EXPECT_FALSE(child<QWidget>(view, "hotkeyActiveLine")->isVisible());
}
