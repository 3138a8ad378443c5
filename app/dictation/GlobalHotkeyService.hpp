#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace parlino {

// What the screens use of the global hotkey: its registration in the stored macOS-style values
// (modifier flags in the NSEvent layout, a virtual key code), its shown text, and the action a press
// runs. The hotkey manager and the UI tests' fakes derive from it. Everything here runs on the Qt
// main thread.
class GlobalHotkeyService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isHotkeyEnabled READ isHotkeyEnabled NOTIFY isHotkeyEnabledChanged)
    Q_PROPERTY(QString currentShortcut READ currentShortcut NOTIFY currentShortcutChanged)

public:
    using QObject::QObject;

    bool isHotkeyEnabled() const { return isHotkeyEnabled_; }
    QString currentShortcut() const { return currentShortcut_; }

    // True when the desktop accepted the combination; the combination is then stored.
    virtual bool registerHotkey(std::uint32_t modifiers, std::uint16_t keyCode) = 0;
    // Drops the registration; the stored combination stays.
    virtual void unregisterHotkey() = 0;
    // Drops the registration and forgets the stored combination.
    virtual void clearHotkey() = 0;
    virtual void loadSavedHotkey() = 0;
    // While the shortcut field records a new combination the current one is let go, so that
    // pressing it reaches the field; `resumeHotkey` takes it back unless one was registered since.
    virtual void pauseHotkey() = 0;
    virtual void resumeHotkey() = 0;

    // Runs on the main thread for every press; replaces the action set before.
    void setOnHotkeyPressed(std::function<void()> action) { onHotkeyPressed_ = std::move(action); }

signals:
    void isHotkeyEnabledChanged();
    void currentShortcutChanged();

protected:
    void setIsHotkeyEnabled(bool value)
    {
        isHotkeyEnabled_ = value;
        emit isHotkeyEnabledChanged();
    }
    void setCurrentShortcut(const QString& value)
    {
        currentShortcut_ = value;
        emit currentShortcutChanged();
    }
    void hotkeyPressed()
    {
        if (onHotkeyPressed_) {
            onHotkeyPressed_();
        }
    }

private:
    bool isHotkeyEnabled_ = false;
    QString currentShortcut_;
    std::function<void()> onHotkeyPressed_;
};

} // namespace parlino
