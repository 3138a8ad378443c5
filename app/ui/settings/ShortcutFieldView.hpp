#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;

namespace parlino {

// The field that captures one key combination: a click starts the capture, modifier keys alone
// keep it going, and the first other key ends it and hands over the combination in the stored
// layout (modifier flags and virtual key code of the original platform). While it captures, key
// presses meant for the rest of the application go to it.
class ShortcutFieldView final : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* placeholderText = "Click to record...";
    static constexpr const char* capturingText = "Press keys...";

    explicit ShortcutFieldView(QWidget* parent = nullptr);
    ~ShortcutFieldView() override;

    // What the field shows: "Press keys..." for as long as it waits for keys, whatever the row
    // last gave it; the row's text once the capture ends.
    QString shortcutText() const;
    void setShortcutText(const QString& text);
    bool isRecording() const { return isRecording_; }

    std::function<void(std::uint32_t modifiers, std::uint16_t keyCode)> onShortcutRecorded;
    std::function<void(bool isRecording)> onRecordingChanged;

    void beginCapture();
    void endCapture();

    // The stored-layout combination of a key press; nothing for a key with no virtual key code.
    static std::optional<std::uint16_t> keyCode(const QKeyEvent& event);
    static std::uint32_t modifierFlags(const QKeyEvent& event);
    static bool isModifierKey(const QKeyEvent& event);

    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString shortcutText_ = QString::fromLatin1(placeholderText);
    bool isRecording_ = false;
    bool monitoring_ = false;
};

} // namespace parlino
