#pragma once

#include <QObject>
#include <QString>

#include <utility>

namespace parlino {

// What the screens use of the push-to-talk triggers: their three switches, whether a dictation runs,
// and whether the desktop lets the program watch the trigger keys. The trigger manager and the UI
// tests' fakes derive from it. Everything here runs on the Qt main thread.
class GlobeDictationService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)
    Q_PROPERTY(bool needsAccessibilityPermission READ needsAccessibilityPermission NOTIFY needsAccessibilityPermissionChanged)
    Q_PROPERTY(QString missingPermissionText READ missingPermissionText NOTIFY missingPermissionTextChanged)
    Q_PROPERTY(bool capsLockTriggerEnabled READ capsLockTriggerEnabled WRITE setCapsLockTriggerEnabled NOTIFY triggersChanged)
    Q_PROPERTY(bool rightShiftTriggerEnabled READ rightShiftTriggerEnabled WRITE setRightShiftTriggerEnabled NOTIFY triggersChanged)
    Q_PROPERTY(bool globeTriggerEnabled READ globeTriggerEnabled WRITE setGlobeTriggerEnabled NOTIFY triggersChanged)

public:
    enum class Trigger { capsLock, rightShift, globe };

    using QObject::QObject;

    bool isActive() const { return isActive_; }
    bool needsAccessibilityPermission() const { return needsAccessibilityPermission_; }
    // While the permission is missing: what this desktop lacks for watching the keys, e.g. "the X
    // server has no RECORD extension"; empty otherwise.
    QString missingPermissionText() const { return missingPermissionText_; }
    // While the permission is missing on a desktop other than an X11 session: how the user grants
    // it; empty on X11, whose one way the screens spell out themselves.
    QString permissionGrantText() const { return permissionGrantText_; }
    // While the keys are watched through the desktop's shortcuts: how the triggers are pressed
    // there; empty otherwise.
    QString triggerNoticeText() const { return triggerNoticeText_; }
    bool capsLockTriggerEnabled() const { return capsLockTriggerEnabled_; }
    bool rightShiftTriggerEnabled() const { return rightShiftTriggerEnabled_; }
    bool globeTriggerEnabled() const { return globeTriggerEnabled_; }
    bool isAnyTriggerEnabled() const { return capsLockTriggerEnabled_ || rightShiftTriggerEnabled_ || globeTriggerEnabled_; }

    // Each assignment runs the manager's change handler, also when the value is unchanged.
    void setCapsLockTriggerEnabled(bool enabled) { assign(Trigger::capsLock, capsLockTriggerEnabled_, enabled); }
    void setRightShiftTriggerEnabled(bool enabled) { assign(Trigger::rightShift, rightShiftTriggerEnabled_, enabled); }
    void setGlobeTriggerEnabled(bool enabled) { assign(Trigger::globe, globeTriggerEnabled_, enabled); }

    // Shows the user how to give the program what it needs to watch the keys.
    virtual void requestAccessibilityPermission() = 0;
    // Starts (or restarts) watching the trigger keys.
    virtual void startEventTap() = 0;

signals:
    void isActiveChanged();
    // Only when the value changes: the screens raise their alert on a change to true.
    void needsAccessibilityPermissionChanged();
    void missingPermissionTextChanged();
    void triggerNoticeTextChanged();
    void triggersChanged();

protected:
    void setIsActive(bool value)
    {
        isActive_ = value;
        emit isActiveChanged();
    }
    void setNeedsAccessibilityPermission(bool value, const QString& missing = {}, const QString& grant = {})
    {
        permissionGrantText_ = value ? grant : QString();
        const QString text = value ? missing : QString();
        const bool valueChanged = std::exchange(needsAccessibilityPermission_, value) != value;
        const bool textChanged = std::exchange(missingPermissionText_, text) != text;
        if (valueChanged) {
            emit needsAccessibilityPermissionChanged();
        }
        if (textChanged) {
            emit missingPermissionTextChanged();
        }
    }
    void setTriggerNoticeText(const QString& text)
    {
        if (std::exchange(triggerNoticeText_, text) != text) {
            emit triggerNoticeTextChanged();
        }
    }
    virtual void triggerChanged(Trigger trigger, bool enabled) = 0;

private:
    void assign(Trigger trigger, bool& field, bool enabled)
    {
        field = enabled;
        triggerChanged(trigger, enabled);
        emit triggersChanged();
    }

    bool isActive_ = false;
    bool needsAccessibilityPermission_ = false;
    QString missingPermissionText_;
    QString permissionGrantText_;
    QString triggerNoticeText_;
    bool capsLockTriggerEnabled_ = false;
    bool rightShiftTriggerEnabled_ = false;
    bool globeTriggerEnabled_ = false;
};

} // namespace parlino
