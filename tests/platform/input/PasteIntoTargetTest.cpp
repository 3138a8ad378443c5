#include "platform/input/ActiveWindow.hpp"
#include "platform/input/InputTestSupport.hpp"
#include "platform/input/KeySynthesizer.hpp"
#include "support/ChildProcess.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using platform::input::ActiveWindow;
using platform::input::KeySynthesizer;
using testsupport::ChildProcess;

namespace {

std::string pasteTargetProgram()
{
    const char* binary = std::getenv("PARLINO_BINARY_DIR");
    const auto path = std::filesystem::path(binary ? binary : ".") / "tools" / "paste-target" / "paste-target";
    return std::filesystem::exists(path) ? path.string() : std::string();
}

bool startsWith(const std::string& line, const std::string& prefix)
{
    return line.rfind(prefix, 0) == 0;
}

} // namespace

// The whole road of a dictation's paste: the clipboard held by one program, the target window of
// another brought to the front, Ctrl+V and Return typed into it.
TEST(PasteIntoTarget, TheClipboardTextArrivesInTheActivatedWindowOfAnotherProgram)
{
    const auto program = pasteTargetProgram();
    if (program.empty()) {
        GTEST_SKIP() << "tools/paste-target is not built (it needs the Qt application build, PARLINO_APP=ON)";
    }
    auto server = inputtests::startServer({.windowManager = true});
    ASSERT_TRUE(server);
    const ChildProcess::Options environment {.environment = server->clientEnvironment(), .passFd = -1};
    std::string whyNot;
    auto owner = ChildProcess::start({program, "--clipboard", "dictated text"}, whyNot, environment);
    ASSERT_TRUE(owner) << whyNot;
    ASSERT_TRUE(owner->waitForLine([](const std::string& line) { return line == "clipboard ready"; }, inputtests::patience))
        << owner->output();
    auto target = ChildProcess::start({program, "--title", "Parlino paste target"}, whyNot, environment);
    ASSERT_TRUE(target) << whyNot;
    const auto shown = target->waitForLine([](const std::string& line) { return startsWith(line, "window "); },
                                           inputtests::patience);
    ASSERT_TRUE(shown) << target->output();
    std::istringstream words(shown->substr(7));
    unsigned long window = 0;
    int pid = 0;
    words >> window >> pid;
    EXPECT_EQ(pid, target->pid());

    ActiveWindow active(server->displayName());
    ASSERT_TRUE(inputtests::pumpUntil({&active}, [&] {
        active.activate(static_cast<platform::input::WindowId>(window));
        const auto front = active.frontmost();
        return front && front->window == window;
    })) << target->output();
    EXPECT_EQ(active.frontmost().value_or(platform::input::FrontWindow {}).pid, target->pid());

    KeySynthesizer synthesizer(server->displayName());
    ASSERT_EQ(synthesizer.heldModifiers(), 0u);
    synthesizer.postPaste();
    EXPECT_TRUE(target->waitForLine([](const std::string& line) { return line == "text: dictated text"; },
                                    inputtests::patience))
        << target->output();
    synthesizer.postReturn();
    EXPECT_TRUE(target->waitForLine([](const std::string& line) { return line == "return: dictated text"; },
                                    inputtests::patience))
        << target->output();
}
