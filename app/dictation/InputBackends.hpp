#pragma once

#include "app/dictation/Clipboard.hpp"
#include "app/dictation/HotkeyInput.hpp"
#include "app/dictation/PasteInput.hpp"
#include "app/dictation/TriggerInput.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace parlino {

// Picks, for each job dictation gives the desktop, the first way of doing it this desktop offers:
// watching the trigger keys, the hotkey, typing keys into the window in front, and the clipboard
// while another window is in front. An X11 session has one way of each; a Wayland session tries
// several in a fixed order. Each backend registers itself with a rank, so the order does not
// depend on where it registers.
//
// What the managers hold are the chooser's stand-ins (`triggers()`, `hotkey()`, `typing()`,
// `clipboard()`): each forwards to the backend chosen for its job. While no backend of a job is
// offered, every call looks again, so a permission granted while the program runs (the poll of
// the push-to-talk manager asks `missing()`) is taken up without a restart. Main thread only.
class InputBackends {
public:
    enum class Session { x11, wayland };

    // Lower ranks are tried first.
    struct Rank {
        static constexpr int x11 = 0;
        // Watching keys
        static constexpr int evdev = 10;
        static constexpr int globalShortcutsPortal = 20;
        // Typing keys
        static constexpr int virtualKeyboard = 10;
        static constexpr int remoteDesktopPortal = 20;
        static constexpr int uinput = 30;
        // Clipboard
        static constexpr int dataControl = 10;
        static constexpr int clipboardPortal = 20;
        // Qt's own clipboard: other programs read it only while a window of ours has the focus.
        static constexpr int qtClipboard = 100;
    };

    // One way of doing a job. `missing` says what this desktop lacks for it (empty: offered) and is
    // asked each time a choice is made; `make` runs once, for the backend chosen.
    template <typename Made>
    struct Backend {
        std::string name;
        int rank = 0;
        std::function<std::string()> missing;
        std::function<std::unique_ptr<Made>()> make;
        // What the user does to have it when it is missing, as one sentence.
        std::string grant;
    };
    using TriggerBackend = Backend<TriggerInput>;
    using HotkeyBackend = Backend<HotkeyInput>;
    using TypingBackend = Backend<PasteInput>;
    using ClipboardBackend = Backend<Clipboard>;

    // The session this process runs in: Wayland when WAYLAND_DISPLAY names a display.
    static Session sessionFromEnvironment();

    explicit InputBackends(Session session);
    ~InputBackends();
    InputBackends(const InputBackends&) = delete;
    InputBackends& operator=(const InputBackends&) = delete;

    // The application's chooser for this session, with every backend built into the program.
    static InputBackends& shared();

    Session session() const { return session_; }

    void addTriggers(TriggerBackend backend);
    void addHotkey(HotkeyBackend backend);
    void addTyping(TypingBackend backend);
    void addClipboard(ClipboardBackend backend);

    TriggerInput& triggers();
    HotkeyInput& hotkey();
    PasteInput& typing();
    // Without a clipboard backend the stand-in keeps the text itself.
    Clipboard& clipboard();

    // The name of the backend chosen for each job; empty while none is offered.
    std::string triggersName();
    std::string hotkeyName();
    std::string typingName();
    std::string clipboardName();

    // What the desktop lacks for the triggers (what the push-to-talk manager reports and polls) and
    // how the user grants it, one phrase per backend tried, in rank order.
    std::string triggersMissing();
    std::string howToGrant();

private:
    template <typename Made>
    struct Job;
    class ChosenTriggers;
    class ChosenHotkey;
    class ChosenTyping;
    class ChosenClipboard;

    Session session_;
    std::unique_ptr<Job<TriggerInput>> triggerJob_;
    std::unique_ptr<Job<HotkeyInput>> hotkeyJob_;
    std::unique_ptr<Job<PasteInput>> typingJob_;
    std::unique_ptr<Job<Clipboard>> clipboardJob_;
    std::unique_ptr<ChosenTriggers> triggers_;
    std::unique_ptr<ChosenHotkey> hotkey_;
    std::unique_ptr<ChosenTyping> typing_;
    std::unique_ptr<ChosenClipboard> clipboard_;
};

// Registers the backends of each family; defined next to them. `shared()` calls every one for its
// session; a family adds its backends with the ranks above and checks what it needs in `missing`.
void registerX11Backends(InputBackends& backends);
void registerEvdevBackends(InputBackends& backends);
void registerWaylandProtocolBackends(InputBackends& backends);
void registerPortalBackends(InputBackends& backends);

} // namespace parlino
