#pragma once

#include "app/dictation/Clipboard.hpp"
#include "app/dictation/Clock.hpp"
#include "app/dictation/DictationHelperService.hpp"
#include "app/dictation/DictationLog.hpp"
#include "app/dictation/FeedbackSoundPlayer.hpp"
#include "app/dictation/PasteInput.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <functional>

namespace parlino {

// Delivers a transcript the way a user would: onto the clipboard, the target window brought to the
// front, then Ctrl+V (and Return when the user wants it) typed into it; and plays the feedback
// sounds. Main thread only; every delay goes through the clock.
class DictationHelper final : public DictationHelperService {
    Q_OBJECT

public:
    struct Dependencies {
        platform::UserDefaults& defaults;
        Clipboard& clipboard;
        PasteInput& input;
        FeedbackSoundPlayer& sounds;
        Clock& clock;
        LogSink log = consoleSink();
    };

    static constexpr Clock::Duration pasteAtCursorDelay {300};
    static constexpr Clock::Duration firstFrontCheckDelay {500};
    static constexpr Clock::Duration frontCheckRetryDelay {300};
    static constexpr int frontCheckAttempts = 3;
    static constexpr Clock::Duration returnDelay {150};
    // How long a keystroke waits for the user to let go of modifier keys, and how often it looks.
    static constexpr Clock::Duration modifierWaitLimit {2000};
    static constexpr Clock::Duration modifierPollInterval {50};

    explicit DictationHelper(Dependencies dependencies, QObject* parent = nullptr);
    ~DictationHelper() override;

    // The application's helper on $DISPLAY, the desktop clipboard and the sound theme.
    static DictationHelper& shared();

    void pasteAtCursor(const QString& text) override;
    void pasteIntoApplication(const QString& text, std::optional<platform::input::FrontWindow> target) override;
    void playFeedbackSound(FeedbackSound sound) override;

private:
    void putOnClipboard(const QString& text);
    void checkFront(std::optional<platform::input::FrontWindow> target, int attempt);
    void sendPaste();
    // Runs `keystroke` once the user holds no modifier; gives up with a log line past the limit.
    void whenModifiersUp(const char* what, std::function<void()> keystroke, Clock::TimePoint deadline);
    bool isAutoEnterEnabled() const;

    Dependencies dependencies_;
};

} // namespace parlino
