#pragma once

#include "app/dictation/PasteInput.hpp"
#include "platform/input/EvdevKeyWatcher.hpp"
#include "platform/input/UinputKeyboard.hpp"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace parlino {

// Typing Ctrl+V and Return through a virtual keyboard of /dev/uinput, into whatever window has
// the focus on a Wayland desktop. The user's held modifiers come from the keyboards under
// /dev/input where they may be read, and count as none where not.
class UinputPasteInput final : public QObject, public PasteInput {
    Q_OBJECT

public:
    UinputPasteInput(std::unique_ptr<platform::input::UinputKeyboard> keyboard,
                     std::optional<platform::input::EvdevKeyWatcher::Options> heldKeys, QObject* parent = nullptr);
    ~UinputPasteInput() override;

    std::optional<platform::input::FrontWindow> frontmost() override;
    bool activate(platform::input::WindowId window) override;
    unsigned heldModifiers() override;
    void postPaste() override { keyboard_->postPaste(); }
    void postReturn() override { keyboard_->postReturn(); }

private:
    std::unique_ptr<platform::input::UinputKeyboard> keyboard_;
    std::unique_ptr<platform::input::EvdevKeyWatcher> heldKeys_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace parlino
