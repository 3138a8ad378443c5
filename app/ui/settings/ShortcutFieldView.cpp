#include "app/ui/settings/ShortcutFieldView.hpp"

#include "app/ui/design/Font.hpp"
#include "platform/input/KeyCodeMapping.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace parlino {

namespace flag = platform::input::modifierFlag;
using platform::input::Keysym;

namespace {

constexpr double cornerRadius = 4;
constexpr double textInset = 8;
constexpr double textPixelSize = 13;

// Keys whose Qt code is not their Latin-1 character.
constexpr std::pair<int, Keysym> specialKeys[] {
    {Qt::Key_Return, 0xff0d}, {Qt::Key_Enter, 0xff0d}, {Qt::Key_Tab, 0xff09}, {Qt::Key_Backtab, 0xff09},
    {Qt::Key_Backspace, 0xff08}, {Qt::Key_Escape, 0xff1b}, {Qt::Key_Delete, 0xffff}, {Qt::Key_Home, 0xff50},
    {Qt::Key_End, 0xff57}, {Qt::Key_PageUp, 0xff55}, {Qt::Key_PageDown, 0xff56}, {Qt::Key_Left, 0xff51},
    {Qt::Key_Right, 0xff53}, {Qt::Key_Down, 0xff54}, {Qt::Key_Up, 0xff52}, {Qt::Key_Help, 0xff6a},
    {Qt::Key_NumLock, 0xff7f}, {Qt::Key_CapsLock, 0xffe5}, {Qt::Key_VolumeUp, 0x1008ff13},
    {Qt::Key_VolumeDown, 0x1008ff11}, {Qt::Key_VolumeMute, 0x1008ff12},
};

std::optional<Keysym> keysymOfQtKey(int key)
{
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20) {
        return static_cast<Keysym>(0xffbe + (key - Qt::Key_F1));
    }
    if (key >= 0x20 && key <= 0x7e) {
        return static_cast<Keysym>(key >= 'A' && key <= 'Z' ? key + ('a' - 'A') : key);
    }
    for (const auto& [qtKey, keysym] : specialKeys) {
        if (qtKey == key) {
            return keysym;
        }
    }
    return std::nullopt;
}

} // namespace

ShortcutFieldView::ShortcutFieldView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("shortcutField"));
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::PointingHandCursor);
}

ShortcutFieldView::~ShortcutFieldView()
{
    if (monitoring_) {
        qApp->removeEventFilter(this);
    }
}

QSize ShortcutFieldView::sizeHint() const
{
    return {250, 32};
}

QString ShortcutFieldView::shortcutText() const
{
    return isRecording_ ? QString::fromLatin1(capturingText) : shortcutText_;
}

void ShortcutFieldView::setShortcutText(const QString& text)
{
    shortcutText_ = text;
    update();
}

void ShortcutFieldView::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    beginCapture();
}

void ShortcutFieldView::beginCapture()
{
    isRecording_ = true;
    if (onRecordingChanged) {
        onRecordingChanged(true);
    }
    update();
    setFocus(Qt::MouseFocusReason);
    // Every key press of the application comes here first while capturing, as a local monitor sees them.
    if (!monitoring_) {
        qApp->installEventFilter(this);
        monitoring_ = true;
    }
}

void ShortcutFieldView::endCapture()
{
    isRecording_ = false;
    if (onRecordingChanged) {
        onRecordingChanged(false);
    }
    if (monitoring_) {
        qApp->removeEventFilter(this);
        monitoring_ = false;
    }
    update();
}

bool ShortcutFieldView::eventFilter(QObject* watched, QEvent* event)
{
    if (!isRecording_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)) {
        return QWidget::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    // The application's own shortcuts do not fire while a combination is being recorded.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (isModifierKey(*key)) {
        return true;
    }
    const auto code = keyCode(*key);
    if (!code) {
        return true;
    }
    const std::uint32_t modifiers = modifierFlags(*key);
    endCapture();
    if (onShortcutRecorded) {
        onShortcutRecorded(modifiers, *code);
    }
    return true;
}

bool ShortcutFieldView::isModifierKey(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return true;
    default:
        return false;
    }
}

std::optional<std::uint16_t> ShortcutFieldView::keyCode(const QKeyEvent& event)
{
    // On X11 the native key is the keysym; other platforms (and synthetic events) only give Qt's key.
    if (event.nativeVirtualKey() != 0) {
        if (const auto code = platform::input::KeyCodeMapping::keyCodeForKeysym(event.nativeVirtualKey())) {
            return code;
        }
    }
    const auto keysym = keysymOfQtKey(event.key());
    return keysym ? platform::input::KeyCodeMapping::keyCodeForKeysym(*keysym) : std::nullopt;
}

std::uint32_t ShortcutFieldView::modifierFlags(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    std::uint32_t flags = 0;
    if (modifiers & Qt::ShiftModifier) {
        flags |= flag::shift;
    }
    if (modifiers & Qt::ControlModifier) {
        flags |= flag::control;
    }
    if (modifiers & (Qt::AltModifier | Qt::GroupSwitchModifier)) {
        flags |= flag::option;
    }
    if (modifiers & Qt::MetaModifier) {
        flags |= flag::command;
    }
    if (modifiers & Qt::KeypadModifier) {
        flags |= flag::numericPad;
    }
    return flags;
}

void ShortcutFieldView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    const double borderWidth = isRecording_ ? 2 : 1;
    const QRectF frame = QRectF(rect()).adjusted(borderWidth / 2, borderWidth / 2, -borderWidth / 2, -borderWidth / 2);
    QPainterPath outline;
    outline.addRoundedRect(frame, cornerRadius, cornerRadius);
    painter.fillPath(outline, palette().color(QPalette::Base));
    painter.setPen(QPen(isRecording_ ? accent : palette().color(QPalette::Mid), borderWidth));
    painter.drawPath(outline);

    const QFont font = design::Font::system(textPixelSize);
    painter.setFont(font);
    painter.setPen(isRecording_ ? accent : palette().color(QPalette::Text));
    const double textHeight = QFontMetricsF(font).height();
    const QRectF textRect(textInset, (height() - textHeight) * 0.5, width() - 2 * textInset, textHeight);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, shortcutText());
}

} // namespace parlino
