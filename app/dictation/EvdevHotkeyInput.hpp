#pragma once

#include "app/dictation/HotkeyInput.hpp"
#include "platform/input/EvdevKeyWatcher.hpp"

#include <QObject>

#include <memory>
#include <optional>

class QSocketNotifier;

namespace parlino {

// The hotkey read from the keyboards under /dev/input. Listen-only: the combination still reaches
// the window in front as well, as no grab can hold it back there. Served from the Qt event loop.
class EvdevHotkeyInput final : public QObject, public HotkeyInput {
    Q_OBJECT

public:
    // The modifiers a combination is told apart by; the locks and AltGr are not among them.
    static constexpr unsigned comparedModifiers = platform::input::modifier::shift | platform::input::modifier::control
                                                  | platform::input::modifier::mod1 | platform::input::modifier::mod4;

    explicit EvdevHotkeyInput(platform::input::EvdevKeyWatcher::Options options, QObject* parent = nullptr);
    ~EvdevHotkeyInput() override;

    // Starts reading the keyboards on first use; throws InputError when they cannot be read or the
    // key has no place on the keyboard.
    void grab(platform::input::Keysym keysym, unsigned xModifiers) override;
    void ungrab() override;
    void setOnPressed(std::function<void()> onPressed) override { onPressed_ = std::move(onPressed); }

    // Reads what the keyboards sent; the event loop calls this when they have sent something.
    void dispatch();

private:
    struct Combination {
        unsigned code = 0;
        unsigned modifiers = 0;
    };

    platform::input::EvdevKeyWatcher::Options options_;
    std::function<void()> onPressed_;
    std::optional<Combination> grabbed_;
    std::unique_ptr<platform::input::EvdevKeyWatcher> watcher_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace parlino
