#include "app/dictation/DictationHelper.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/InputBackends.hpp"

#include <exception>

namespace parlino {

DictationHelper::DictationHelper(Dependencies dependencies, QObject* parent)
    : DictationHelperService(parent)
    , dependencies_(std::move(dependencies))
{
}

DictationHelper::~DictationHelper() = default;

DictationHelper& DictationHelper::shared()
{
    Clipboard* clipboard = &InputBackends::shared().clipboard();
    PasteInput* input = &InputBackends::shared().typing();
    static ThemeSoundPlayer* sounds = new ThemeSoundPlayer;
    static DictationHelper* helper = new DictationHelper(
        {platform::UserDefaults::standard(), *clipboard, *input, *sounds, SystemClock::shared()});
    return *helper;
}

void DictationHelper::playFeedbackSound(FeedbackSound sound)
{
    const QString key = QString::fromLatin1(SettingsKeys::soundFeedbackEnabled);
    if (dependencies_.defaults.contains(key) && !dependencies_.defaults.boolValue(key, true)) {
        return;
    }
    dependencies_.sounds.play(sound);
}

void DictationHelper::putOnClipboard(const QString& text)
{
    dependencies_.clipboard.replaceText(text);
}

void DictationHelper::pasteAtCursor(const QString& text)
{
    if (text.isEmpty()) {
        return;
    }
    playFeedbackSound(FeedbackSound::paste);
    putOnClipboard(text);
    dependencies_.clock.schedule(pasteAtCursorDelay, this, [this] { sendPaste(); });
}

void DictationHelper::pasteIntoApplication(const QString& text, std::optional<platform::input::FrontWindow> target)
{
    if (text.isEmpty()) {
        return;
    }
    playFeedbackSound(FeedbackSound::paste);
    putOnClipboard(text);
    if (target) {
        dependencies_.input.activate(target->window);
    }
    dependencies_.clock.schedule(firstFrontCheckDelay, this, [this, target] { checkFront(target, 1); });
}

void DictationHelper::checkFront(std::optional<platform::input::FrontWindow> target, int attempt)
{
    if (!target) {
        sendPaste();
        return;
    }
    const auto front = dependencies_.input.frontmost();
    if (front && front->window == target->window) {
        sendPaste();
        return;
    }
    if (attempt < frontCheckAttempts) {
        dependencies_.input.activate(target->window);
        dependencies_.clock.schedule(frontCheckRetryDelay, this, [this, target, attempt] { checkFront(target, attempt + 1); });
        return;
    }
    // Typing now would paste into whatever window took its place.
    dependencies_.log(QStringLiteral("⚠️ Paste target did not come to the front; the text stays on the clipboard"));
}

void DictationHelper::sendPaste()
{
    const auto deadline = dependencies_.clock.now() + modifierWaitLimit;
    whenModifiersUp("paste", [this] {
        try {
            dependencies_.input.postPaste();
        } catch (const std::exception& error) {
            dependencies_.log(QStringLiteral("❌ Paste failed: ") + QString::fromStdString(error.what()));
            return;
        }
        if (!isAutoEnterEnabled()) {
            return;
        }
        dependencies_.clock.schedule(returnDelay, this, [this] {
            whenModifiersUp("Return", [this] {
                try {
                    dependencies_.input.postReturn();
                } catch (const std::exception& error) {
                    dependencies_.log(QStringLiteral("❌ Return failed: ") + QString::fromStdString(error.what()));
                }
            }, dependencies_.clock.now() + modifierWaitLimit);
        });
    }, deadline);
}

void DictationHelper::whenModifiersUp(const char* what, std::function<void()> keystroke, Clock::TimePoint deadline)
{
    // Held modifiers would join the synthetic keys (Ctrl+Alt+V, Shift+Return) in the target.
    if (dependencies_.input.heldModifiers() == 0) {
        keystroke();
        return;
    }
    if (dependencies_.clock.now() >= deadline) {
        dependencies_.log(QStringLiteral("⚠️ Modifier keys still held; no ") + QString::fromLatin1(what)
                          + QStringLiteral(" sent, the text stays on the clipboard"));
        return;
    }
    dependencies_.clock.schedule(modifierPollInterval, this, [this, what, keystroke = std::move(keystroke), deadline] {
        whenModifiersUp(what, keystroke, deadline);
    });
}

bool DictationHelper::isAutoEnterEnabled() const
{
    const QString key = QString::fromLatin1(SettingsKeys::autoEnterAfterPaste);
    return dependencies_.defaults.contains(key) && dependencies_.defaults.boolValue(key, false);
}

} // namespace parlino
