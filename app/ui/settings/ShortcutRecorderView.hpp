#pragma once

#include "app/dictation/GlobalHotkeyService.hpp"

#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;
class QToolButton;

namespace parlino {

class ShortcutFieldView;

// The settings row of the global hotkey: the label, the capture field, a clear button, the
// refusal message, the hint and the "Hotkey active" line. The hotkey is let go while the field
// records, so that pressing the current combination reaches the field.
class ShortcutRecorderView final : public QWidget {
    Q_OBJECT

public:
    explicit ShortcutRecorderView(GlobalHotkeyService& hotkeyManager, QWidget* parent = nullptr);
    ~ShortcutRecorderView() override;

    bool isRecording() const { return isRecording_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }

private:
    void shortcutRecorded(std::uint32_t modifiers, std::uint16_t keyCode);
    void recordingChanged(bool isRecording);
    void clear();
    void setErrorMessage(std::optional<QString> message);
    // Brings every part up to the manager's state, as a view rebuilt from it would be.
    void refresh();

    GlobalHotkeyService& hotkeyManager_;
    bool isRecording_ = false;
    std::optional<QString> errorMessage_;
    ShortcutFieldView* field_;
    QToolButton* clearButton_;
    QLabel* error_;
    QWidget* activeLine_;
    QLabel* activeText_;
};

} // namespace parlino
