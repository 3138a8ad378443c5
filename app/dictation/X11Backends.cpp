#include "app/dictation/InputBackends.hpp"
#include "app/dictation/X11HotkeyInput.hpp"
#include "app/dictation/X11PasteInput.hpp"
#include "app/dictation/X11TriggerInput.hpp"

namespace parlino {

// The X11 session's one way of each job; what it lacks, its own objects say when used.
void registerX11Backends(InputBackends& backends)
{
    backends.addTriggers({"X11", InputBackends::Rank::x11, {}, [] { return std::make_unique<X11TriggerInput>(); },
                          TriggerInput::x11Grant});
    backends.addHotkey({"X11", InputBackends::Rank::x11, {}, [] { return std::make_unique<X11HotkeyInput>(); }, {}});
    backends.addTyping({"XTEST", InputBackends::Rank::x11, {}, [] { return std::make_unique<X11PasteInput>(); }, {}});
    backends.addClipboard({"X11", InputBackends::Rank::x11, {}, [] { return std::make_unique<SystemClipboard>(); }, {}});
}

} // namespace parlino
