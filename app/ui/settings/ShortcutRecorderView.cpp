#include "app/ui/settings/ShortcutRecorderView.hpp"

#include "app/dictation/GlobalHotkeyManager.hpp"
#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/settings/ShortcutFieldView.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/Symbol.hpp"
#include "app/ui/design/Theme.hpp"
#include "platform/input/KeyCodeMapping.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace parlino {

using namespace design;
namespace flag = platform::input::modifierFlag;

namespace {

constexpr int rowSpacing = 12;

// Under the field, lined up with the controls of the settings pane's other rows. A text that may
// wrap takes the whole width.
QWidget* indented(QWidget* child, QWidget* parent)
{
    auto* holder = new QWidget(parent);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(SettingsSection::indent, 0, 0, 0);
    const bool fills = child->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding;
    layout->addWidget(child, fills ? 1 : 0);
    if (!fills) {
        layout->addStretch();
    }
    return holder;
}

} // namespace

ShortcutRecorderView::ShortcutRecorderView(GlobalHotkeyService& hotkeyManager, QWidget* parent)
    : QWidget(parent)
    , hotkeyManager_(hotkeyManager)
{
    setObjectName(QStringLiteral("shortcutRecorder"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(rowSpacing);

    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(SettingsSection::rowSpacing);
    const QString title = QStringLiteral("Global Hotkey:");
    auto* label = new PlainLabel(title, Font::textStyle(TextStyle::body), Color::textPrimary(), row);
    label->setFixedWidth(SettingsSection::labelWidthFor({title}));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rowLayout->addWidget(label);
    field_ = new ShortcutFieldView(row);
    field_->setFixedSize(250, 32);
    field_->onShortcutRecorded = [this](std::uint32_t modifiers, std::uint16_t keyCode) { shortcutRecorded(modifiers, keyCode); };
    field_->onRecordingChanged = [this](bool recording) { recordingChanged(recording); };
    rowLayout->addWidget(field_);
    clearButton_ = new QToolButton(row);
    clearButton_->setObjectName(QStringLiteral("clearHotkeyButton"));
    clearButton_->setAutoRaise(true);
    clearButton_->setCursor(Qt::PointingHandCursor);
    AppearanceFollower::follow(clearButton_, [button = clearButton_] {
        button->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), Color::textSecondary().resolved(), 16));
    });
    clearButton_->setToolTip(QStringLiteral("Clear hotkey"));
    clearButton_->setStyleSheet(Theme::borderlessToolButtonSheet());
    connect(clearButton_, &QToolButton::clicked, this, &ShortcutRecorderView::clear);
    rowLayout->addWidget(clearButton_);
    rowLayout->addStretch();
    column->addWidget(row);

    error_ = new PlainLabel(QString(), Font::textStyle(TextStyle::caption), Color::dangerRed(), this);
    error_->setObjectName(QStringLiteral("hotkeyErrorMessage"));
    column->addWidget(indented(error_, this));

    auto* hint = new PlainLabel(QStringLiteral("Click to record a new shortcut, then press your desired key combination"),
                                Font::textStyle(TextStyle::caption), Color::textSecondary(), this);
    hint->setWordWrap(true);
    hint->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    column->addWidget(indented(hint, this));

    auto* active = new QWidget(this);
    auto* activeLayout = new QHBoxLayout(active);
    activeLayout->setContentsMargins(0, 0, 0, 0);
    auto* check = new QLabel(active);
    check->setPixmap(symbolIcon(QStringLiteral("checkmark.circle.fill"), Color::successGreen().resolved(), 14).pixmap(14, 14));
    activeLayout->addWidget(check);
    activeText_ = new PlainLabel(QString(), Font::textStyle(TextStyle::caption), Color::successGreen(), active);
    activeText_->setObjectName(QStringLiteral("hotkeyActiveText"));
    activeLayout->addWidget(activeText_);
    activeLine_ = indented(active, this);
    activeLine_->setObjectName(QStringLiteral("hotkeyActiveLine"));
    column->addWidget(activeLine_);

    connect(&hotkeyManager_, &GlobalHotkeyService::currentShortcutChanged, this, &ShortcutRecorderView::refresh);
    connect(&hotkeyManager_, &GlobalHotkeyService::isHotkeyEnabledChanged, this, &ShortcutRecorderView::refresh);
    refresh();
}

ShortcutRecorderView::~ShortcutRecorderView()
{
    // A capture cut short gives the hotkey back.
    if (field_->isRecording()) {
        field_->onRecordingChanged = nullptr;
        field_->endCapture();
        hotkeyManager_.resumeHotkey();
    }
}

void ShortcutRecorderView::refresh()
{
    const QString shortcut = hotkeyManager_.currentShortcut();
    field_->setShortcutText(shortcut.isEmpty() ? QString::fromLatin1(ShortcutFieldView::placeholderText) : shortcut);
    clearButton_->setVisible(!shortcut.isEmpty());
    error_->parentWidget()->setVisible(errorMessage_.has_value());
    error_->setText(errorMessage_.value_or(QString()));
    // Only a combination the desktop has really given us is called active.
    activeLine_->setVisible(!shortcut.isEmpty() && hotkeyManager_.isHotkeyEnabled());
    activeText_->setText(QStringLiteral("Hotkey active: ") + shortcut);
}

void ShortcutRecorderView::recordingChanged(bool recording)
{
    isRecording_ = recording;
    if (recording) {
        hotkeyManager_.pauseHotkey();
    }
    refresh();
}

void ShortcutRecorderView::shortcutRecorded(std::uint32_t modifiers, std::uint16_t keyCode)
{
    constexpr std::uint32_t anyModifier = flag::command | flag::control | flag::option | flag::shift;
    if (GlobalHotkeyManager::isSystemShortcut(modifiers, keyCode)) {
        setErrorMessage(QStringLiteral("⚠️ This shortcut is used by the system"));
    } else if ((modifiers & anyModifier) == 0) {
        setErrorMessage(QStringLiteral("⚠️ Please use at least one modifier key (Super, Ctrl, Alt, Shift)"));
    } else if (hotkeyManager_.registerHotkey(modifiers, keyCode)) {
        setErrorMessage(std::nullopt);
        isRecording_ = false;
    } else {
        setErrorMessage(QStringLiteral("❌ Failed to register hotkey. Try a different combination."));
    }
    // A refused combination leaves the former hotkey in place.
    hotkeyManager_.resumeHotkey();
}

void ShortcutRecorderView::clear()
{
    hotkeyManager_.clearHotkey();
    setErrorMessage(std::nullopt);
}

void ShortcutRecorderView::setErrorMessage(std::optional<QString> message)
{
    errorMessage_ = std::move(message);
    refresh();
}

} // namespace parlino
