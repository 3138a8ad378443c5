#include "app/dictation/HeldClipboard.hpp"
#include "app/dictation/InputBackends.hpp"
#include "app/dictation/WaylandClipboard.hpp"
#include "app/dictation/WaylandPasteInput.hpp"

namespace parlino {

namespace {
constexpr char heldClipboardName[] = "kept by Parlino";
} // namespace

// The compositor's own protocols: its virtual keyboard, and its clipboard control. Each backend's
// constructor says what the compositor lacks.
void registerWaylandProtocolBackends(InputBackends& backends)
{
    backends.addTyping({"virtual keyboard", InputBackends::Rank::virtualKeyboard, {},
                        [&backends] {
                            // With no clipboard other applications can read, the text itself is typed.
                            return std::make_unique<WaylandPasteInput>(std::string(), [&backends]() -> std::optional<QString> {
                                if (backends.clipboardName() != heldClipboardName) {
                                    return std::nullopt;
                                }
                                return backends.clipboard().text();
                            });
                        },
                        "Use a compositor with the virtual keyboard protocol (sway, Hyprland, other wlroots desktops)"});
    backends.addClipboard({"data control", InputBackends::Rank::dataControl, {},
                           [] { return std::make_unique<WaylandClipboard>(); },
                           "Use a compositor with the data-control protocol (sway, Hyprland, other wlroots desktops)"});
    // Before Qt's clipboard, which other applications read only while our window has the focus: a
    // paste then types the text.
    backends.addClipboard({heldClipboardName, InputBackends::Rank::qtClipboard - 1, {},
                           [] { return std::make_unique<HeldClipboard>(); }, {}});
}

} // namespace parlino
