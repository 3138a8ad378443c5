#include "app/dictation/EvdevHotkeyInput.hpp"
#include "app/dictation/EvdevTriggerInput.hpp"
#include "app/dictation/InputBackends.hpp"
#include "app/dictation/UinputPasteInput.hpp"

namespace parlino {

// The kernel's devices: reading the keyboards (the input group) and a virtual keyboard of /dev/uinput.
void registerEvdevBackends(InputBackends& backends)
{
    const auto keyboardsMissing = [] { return platform::input::EvdevKeyWatcher::missing(EvdevTriggerInput::standardOptions()); };
    backends.addTriggers({"evdev", InputBackends::Rank::evdev, keyboardsMissing,
                          [] { return std::make_unique<EvdevTriggerInput>(); }, EvdevTriggerInput::grant});
    backends.addHotkey({"evdev", InputBackends::Rank::evdev, keyboardsMissing,
                        [] { return std::make_unique<EvdevHotkeyInput>(EvdevTriggerInput::standardOptions()); },
                        EvdevTriggerInput::grant});
    backends.addTyping({"uinput", InputBackends::Rank::uinput, [] { return platform::input::UinputKeyboard::missing(); },
                        [] {
                            return std::make_unique<UinputPasteInput>(
                                std::make_unique<platform::input::UinputKeyboard>(platform::input::UinputKeyboard::openDeviceFile()),
                                EvdevTriggerInput::standardOptions());
                        },
                        "Let the input group write /dev/uinput (a udev rule: KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\")"});
}

} // namespace parlino
