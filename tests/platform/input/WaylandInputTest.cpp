#include "platform/input/DataControlClipboard.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/InputTestSupport.hpp"
#include "platform/input/VirtualKeyboard.hpp"
#include "support/ChildProcess.hpp"
#include "support/PasteTargetProgram.hpp"
#include "support/SwayTestServer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::input::DataControlClipboard;
using platform::input::InputError;
using platform::input::VirtualKeyboard;

namespace {

// A paste-target window on the compositor, as a native Wayland client, with the keyboard focus.
std::unique_ptr<testsupport::ChildProcess> showTarget(const testsupport::SwayTestServer& sway)
{
    std::string whyNot;
    auto target = testsupport::ChildProcess::start({testsupport::pasteTargetProgram(), "--title", "Wayland target"}, whyNot,
                                                   {.environment = sway.clientEnvironment()});
    EXPECT_TRUE(target) << whyNot;
    if (target) {
        EXPECT_TRUE(target->waitForLine([](const std::string& line) { return line == "active"; }, inputtests::patience))
            << target->output() << sway.log();
    }
    return target;
}

// Serves the clipboard until the target prints `line`.
bool targetPrints(testsupport::ChildProcess& target, DataControlClipboard& clipboard, const std::string& line)
{
    return inputtests::pumpUntil({&clipboard}, [&] {
        return target.waitForLine([&](const std::string& printed) { return printed == line; }, std::chrono::milliseconds(0)).has_value();
    });
}

} // namespace

// Against a real compositor, a native Wayland window in front: text typed through the virtual
// keyboard (letters of any script, more kinds of them than one keymap holds), Return, and Ctrl+V
// pasting what the clipboard control put on the clipboard; the clipboard read back when another
// client owns it, and cleared; and, with the compositor gone, every call refused with InputError.
TEST(WaylandInput, TypesPastesAndReadsTheClipboardOfAnotherApplicationsWindow)
{
    std::string whyNot;
    if (!testsupport::SwayTestServer::available(whyNot)) {
        GTEST_SKIP() << whyNot;
    }
    if (testsupport::pasteTargetProgram().empty()) {
        GTEST_SKIP() << "tools/paste-target is not built";
    }
    auto sway = testsupport::SwayTestServer::start();
    // A headless compositor has no keyboard until ours joins it, and a client that started before
    // then binds its keyboard only after the first keys were sent; a desktop always has one.
    VirtualKeyboard keyboard(sway->displayName());
    keyboard.postReturn();
    auto target = showTarget(*sway);
    ASSERT_TRUE(target && !HasFailure());

    DataControlClipboard clipboard(sway->displayName());
    // sway offers the wlroots manager; a compositor with both is used through ext-data-control-v1.
    EXPECT_STREQ(clipboard.protocol(), "zwlr_data_control_manager_v1");

    const std::string sentence = "Žltý kôň úpel ďábelské ódy: \"Ahoj\" & 3×4 = 12!";
    keyboard.type(sentence);
    ASSERT_TRUE(targetPrints(*target, clipboard, "text: " + sentence)) << target->output();
    keyboard.postReturn();
    ASSERT_TRUE(targetPrints(*target, clipboard, "return: " + sentence)) << target->output();

    // 250 different letters take two keymaps.
    std::string letters;
    for (char32_t point = 0x100; point < 0x100 + 250; ++point) {
        letters += static_cast<char>(0xC0 | (point >> 6));
        letters += static_cast<char>(0x80 | (point & 0x3F));
    }
    keyboard.type(letters + "end\n");
    ASSERT_TRUE(targetPrints(*target, clipboard, "return: " + letters + "end")) << target->output().substr(0, 2000);

    // The clipboard is set while the target has the focus, and Ctrl+V takes it from us.
    clipboard.setText("Pasted through the clipboard ✓");
    EXPECT_EQ(clipboard.text(), "Pasted through the clipboard ✓");
    keyboard.postPaste();
    ASSERT_TRUE(targetPrints(*target, clipboard, "text: Pasted through the clipboard ✓")) << target->output();
    keyboard.postReturn();
    ASSERT_TRUE(targetPrints(*target, clipboard, "return: Pasted through the clipboard ✓")) << target->output();

    // Another client takes the clipboard: ours is given up, and theirs is read through a pipe.
    {
        std::atomic<bool> taken {false};
        std::atomic<bool> done {false};
        std::string ownerError;
        std::thread owner([&] {
            try {
                DataControlClipboard other(sway->displayName());
                other.setText("Owned by another client");
                taken = true;
                inputtests::pumpUntil({&other}, [&] { return done.load(); });
            } catch (const std::exception& error) {
                ownerError = error.what();
                taken = true;
            }
        });
        ASSERT_TRUE(inputtests::pumpUntil({&clipboard}, [&] { return taken.load(); }));
        const auto read = clipboard.text();
        done = true;
        owner.join();
        EXPECT_EQ(ownerError, "");
        EXPECT_EQ(read, "Owned by another client");
    }
    // Its owner gone, nothing is on the clipboard.
    EXPECT_EQ(clipboard.text(), "");
    clipboard.setText("set again");
    EXPECT_EQ(clipboard.text(), "set again");
    clipboard.clear();
    EXPECT_EQ(clipboard.text(), "");
    keyboard.postPaste();
    keyboard.type("x");
    ASSERT_TRUE(targetPrints(*target, clipboard, "text: x")) << "an empty clipboard pasted something: " << target->output();

    target.reset();
    sway.reset();
    EXPECT_THROW(keyboard.postPaste(), InputError);
    EXPECT_THROW(keyboard.type("late"), InputError);
    EXPECT_THROW(clipboard.setText("late"), InputError);
    EXPECT_THROW(clipboard.text(), InputError);
    EXPECT_THROW(VirtualKeyboard("/nonexistent/wayland-0"), InputError);
    EXPECT_THROW(DataControlClipboard("/nonexistent/wayland-0"), InputError);
}
