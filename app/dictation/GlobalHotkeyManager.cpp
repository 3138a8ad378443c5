#include "app/dictation/GlobalHotkeyManager.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/InputBackends.hpp"
#include "platform/input/KeyCodeMapping.hpp"

#include <QPointer>

#include <limits>
#include <stdexcept>
#include <utility>

namespace parlino {

namespace flag = platform::input::modifierFlag;
using platform::input::KeyCodeMapping;

namespace {

constexpr std::pair<std::uint16_t, const char*> keyNames[] {
    {0, "A"}, {1, "S"}, {2, "D"}, {3, "F"}, {4, "H"}, {5, "G"}, {6, "Z"}, {7, "X"}, {8, "C"}, {9, "V"},
    {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"}, {17, "T"}, {31, "O"}, {32, "U"},
    {34, "I"}, {35, "P"}, {36, "Return"}, {37, "L"}, {38, "J"}, {40, "K"}, {45, "N"}, {46, "M"},
    {48, "Tab"}, {49, "Space"}, {51, "Delete"}, {53, "Escape"}, {123, "←"}, {124, "→"}, {125, "↓"}, {126, "↑"},
};

QString settingKey(const char* key)
{
    return QString::fromLatin1(key);
}

} // namespace

GlobalHotkeyManager::GlobalHotkeyManager(Dependencies dependencies, QObject* parent)
    : GlobalHotkeyService(parent)
    , dependencies_(std::move(dependencies))
{
    loadSavedHotkey();
    dependencies_.input.setOnPressed([self = QPointer(this)] {
        // The action runs after the desktop's dispatch has returned.
        QMetaObject::invokeMethod(self, [self] {
            if (self) {
                self->hotkeyPressed();
            }
        }, Qt::QueuedConnection);
    });
}

GlobalHotkeyManager::~GlobalHotkeyManager()
{
    dependencies_.input.setOnPressed({});
    if (registered_) {
        dependencies_.input.ungrab();
        dependencies_.log(QStringLiteral("🗑️ Hotkey unregistered"));
    }
}

GlobalHotkeyManager& GlobalHotkeyManager::shared()
{
    HotkeyInput* input = &InputBackends::shared().hotkey();
    static GlobalHotkeyManager* manager = new GlobalHotkeyManager({platform::UserDefaults::standard(), *input});
    return *manager;
}

void GlobalHotkeyManager::grab(const Combination& combination)
{
    const auto keysym = KeyCodeMapping::keysymForKeyCode(combination.keyCode);
    // Without a key the grab would take every key of the keyboard.
    if (!keysym) {
        throw std::runtime_error("this keyboard has no key for key code " + std::to_string(combination.keyCode));
    }
    dependencies_.input.grab(*keysym, KeyCodeMapping::xModifiers(combination.modifiers & ~flag::capsLock));
}

bool GlobalHotkeyManager::registerHotkey(std::uint32_t modifiers, std::uint16_t keyCode)
{
    const Combination combination {modifiers, keyCode};
    if (paused_) {
        // The former combination comes back if the new one is refused.
        resumeHotkey();
    }
    try {
        grab(combination);
    } catch (const std::exception& error) {
        dependencies_.log(QStringLiteral("❌ Failed to register hotkey: ") + QString::fromUtf8(error.what()));
        return false;
    }
    if (registered_) {
        dependencies_.log(QStringLiteral("🗑️ Hotkey unregistered"));
    }
    registered_ = combination;
    auto& defaults = dependencies_.defaults;
    defaults.setInteger(settingKey(SettingsKeys::globalHotkeyModifiers), modifiers);
    defaults.setInteger(settingKey(SettingsKeys::globalHotkeyKeyCode), keyCode);
    setIsHotkeyEnabled(true);
    setCurrentShortcut(shortcutDescription(modifiers, keyCode));
    dependencies_.log(QStringLiteral("✅ Global hotkey registered: ") + currentShortcut());
    return true;
}

void GlobalHotkeyManager::unregisterHotkey()
{
    if (!registered_) {
        return;
    }
    dependencies_.input.ungrab();
    registered_.reset();
    paused_ = false;
    setIsHotkeyEnabled(false);
    dependencies_.log(QStringLiteral("🗑️ Hotkey unregistered"));
}

void GlobalHotkeyManager::clearHotkey()
{
    unregisterHotkey();
    dependencies_.defaults.remove(settingKey(SettingsKeys::globalHotkeyModifiers));
    dependencies_.defaults.remove(settingKey(SettingsKeys::globalHotkeyKeyCode));
    setCurrentShortcut(QString());
    dependencies_.log(QStringLiteral("🧹 Hotkey cleared from settings"));
}

void GlobalHotkeyManager::loadSavedHotkey()
{
    const auto& defaults = dependencies_.defaults;
    const QString modifiersKey = settingKey(SettingsKeys::globalHotkeyModifiers);
    const QString keyCodeKey = settingKey(SettingsKeys::globalHotkeyKeyCode);
    if (!defaults.contains(modifiersKey) || !defaults.contains(keyCodeKey)) {
        return;
    }
    // Values that are no modifier mask or no virtual key code are ignored.
    const qint64 modifiers = defaults.integerValue(modifiersKey, -1);
    const qint64 keyCode = defaults.integerValue(keyCodeKey, -1);
    if (modifiers < 0 || modifiers > std::numeric_limits<std::uint32_t>::max() || keyCode < 0
        || keyCode > std::numeric_limits<std::uint16_t>::max()) {
        return;
    }
    registerHotkey(static_cast<std::uint32_t>(modifiers), static_cast<std::uint16_t>(keyCode));
}

void GlobalHotkeyManager::pauseHotkey()
{
    if (!registered_ || paused_) {
        return;
    }
    dependencies_.input.ungrab();
    paused_ = true;
    setIsHotkeyEnabled(false);
}

void GlobalHotkeyManager::resumeHotkey()
{
    if (!paused_) {
        return;
    }
    paused_ = false;
    try {
        grab(*registered_);
        setIsHotkeyEnabled(true);
    } catch (const std::exception& error) {
        // Someone took the combination meanwhile: it is no longer ours.
        registered_.reset();
        dependencies_.log(QStringLiteral("❌ Failed to register hotkey: ") + QString::fromUtf8(error.what()));
    }
}

std::optional<QString> GlobalHotkeyManager::keyName(std::uint16_t keyCode)
{
    for (const auto& [code, name] : keyNames) {
        if (code == keyCode) {
            return QString::fromUtf8(name);
        }
    }
    return std::nullopt;
}

QString GlobalHotkeyManager::shortcutDescription(std::uint32_t modifiers, std::uint16_t keyCode)
{
    QString text;
    if (modifiers & flag::control) {
        text += QStringLiteral("Ctrl+");
    }
    if (modifiers & flag::option) {
        text += QStringLiteral("Alt+");
    }
    if (modifiers & flag::shift) {
        text += QStringLiteral("Shift+");
    }
    if (modifiers & flag::command) {
        text += QStringLiteral("Super+");
    }
    return text + keyName(keyCode).value_or(QStringLiteral("Key ") + QString::number(keyCode));
}

bool GlobalHotkeyManager::isSystemShortcut(std::uint32_t modifiers, std::uint16_t keyCode)
{
    return modifiers == flag::command && (keyCode == 12 || keyCode == 13 || keyCode == 48 || keyCode == 49);
}

} // namespace parlino
