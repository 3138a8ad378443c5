#pragma once

#include "app/dictation/DictationLog.hpp"
#include "app/dictation/GlobalHotkeyService.hpp"
#include "app/dictation/HotkeyInput.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <cstdint>
#include <optional>

namespace parlino {

// The one system-wide hotkey. Combinations come and are stored in the original platform's layout
// (modifier flags, a virtual key code) and reach the desktop through the key-code table. A refused
// combination leaves the registered one in place, grabbed and shown. Presses run the action on the
// main thread after the desktop's dispatch has returned.
class GlobalHotkeyManager final : public GlobalHotkeyService {
    Q_OBJECT

public:
    struct Dependencies {
        platform::UserDefaults& defaults;
        HotkeyInput& input;
        LogSink log = consoleSink();
    };

    // Registers the stored combination, if any.
    explicit GlobalHotkeyManager(Dependencies dependencies, QObject* parent = nullptr);
    ~GlobalHotkeyManager() override;

    // The application's manager on $DISPLAY.
    static GlobalHotkeyManager& shared();

    bool registerHotkey(std::uint32_t modifiers, std::uint16_t keyCode) override;
    void unregisterHotkey() override;
    void clearHotkey() override;
    void loadSavedHotkey() override;
    void pauseHotkey() override;
    void resumeHotkey() override;

    // "A", "Space", "←", ...; nothing for digits, punctuation, function keys and the keypad.
    static std::optional<QString> keyName(std::uint16_t keyCode);
    // "Ctrl+", "Alt+", "Shift+" and "Super+" for the modifiers held, in that order, then the key's
    // name or "Key " and its code: the way desktop shortcuts are written here.
    static QString shortcutDescription(std::uint32_t modifiers, std::uint16_t keyCode);
    // Super alone with Q, W, Tab or Space.
    static bool isSystemShortcut(std::uint32_t modifiers, std::uint16_t keyCode);

private:
    struct Combination {
        std::uint32_t modifiers = 0;
        std::uint16_t keyCode = 0;
    };

    void grab(const Combination& combination);

    Dependencies dependencies_;
    // The combination taken from the desktop (or let go for a while by pauseHotkey).
    std::optional<Combination> registered_;
    bool paused_ = false;
};

} // namespace parlino
