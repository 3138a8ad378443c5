#pragma once

#include "app/dictation/DictationHelperService.hpp"
#include "app/dictation/GlobalHotkeyService.hpp"
#include "app/dictation/GlobeDictationService.hpp"
#include "app/dictation/Clipboard.hpp"
#include "app/ui/UrlOpener.hpp"

#include <QList>
#include <QUrl>

#include <utility>
#include <vector>

namespace uitest {

// Push-to-talk triggers whose state the test sets.
class FakeGlobeDictation final : public parlino::GlobeDictationService {
    Q_OBJECT

public:
    using GlobeDictationService::GlobeDictationService;
    using GlobeDictationService::setIsActive;
    using GlobeDictationService::setNeedsAccessibilityPermission;

    void requestAccessibilityPermission() override { ++permissionRequests; }
    void startEventTap() override { ++eventTapStarts; }

    int permissionRequests = 0;
    int eventTapStarts = 0;

protected:
    void triggerChanged(Trigger, bool) override {}
};

// A hotkey the test presses; registrations succeed unless the test refuses them.
class FakeHotkey final : public parlino::GlobalHotkeyService {
    Q_OBJECT

public:
    using GlobalHotkeyService::GlobalHotkeyService;

    bool registerHotkey(std::uint32_t modifiers, std::uint16_t keyCode) override
    {
        registrations.push_back({modifiers, keyCode});
        if (refuseRegistrations) {
            return false;
        }
        paused = false;
        setIsHotkeyEnabled(true);
        setCurrentShortcut(shownText);
        return true;
    }
    void unregisterHotkey() override { setIsHotkeyEnabled(false); }
    void clearHotkey() override
    {
        ++clears;
        setIsHotkeyEnabled(false);
        setCurrentShortcut(QString());
    }
    void loadSavedHotkey() override {}
    void pauseHotkey() override
    {
        ++pauses;
        paused = isHotkeyEnabled();
        setIsHotkeyEnabled(false);
    }
    void resumeHotkey() override
    {
        ++resumes;
        if (std::exchange(paused, false)) {
            setIsHotkeyEnabled(true);
        }
    }

    void press() { hotkeyPressed(); }

    struct Registration {
        std::uint32_t modifiers;
        std::uint16_t keyCode;
    };
    std::vector<Registration> registrations;
    bool refuseRegistrations = false;
    // What a successful registration shows.
    QString shownText = QStringLiteral("Ctrl+Alt+K");
    bool paused = false;
    int pauses = 0;
    int resumes = 0;
    int clears = 0;
};

// Records pastes and sounds.
class FakeDictationHelper final : public parlino::DictationHelperService {
    Q_OBJECT

public:
    using DictationHelperService::DictationHelperService;

    void pasteAtCursor(const QString& text) override { pastes.push_back(text); }
    void pasteIntoApplication(const QString& text, std::optional<platform::input::FrontWindow> target) override
    {
        pastes.push_back(text);
        targets.push_back(target);
    }
    void playFeedbackSound(parlino::FeedbackSound sound) override { sounds.push_back(sound); }

    std::vector<QString> pastes;
    // The window each pasteIntoApplication was meant for.
    std::vector<std::optional<platform::input::FrontWindow>> targets;
    std::vector<parlino::FeedbackSound> sounds;
};

// A clipboard that remembers what was done to it.
class FakeClipboard final : public parlino::Clipboard {
public:
    void clearContents() override
    {
        contents.clear();
        ++clears;
    }
    void setText(const QString& text) override { contents = text; }
    QString text() const override { return contents; }

    QString contents;
    int clears = 0;
};

// Records what it was asked to open; `opens` false makes every open fail.
class FakeUrlOpener final : public parlino::UrlOpener {
public:
    bool openUrl(const QUrl& url) override
    {
        opened.push_back(url);
        return opens;
    }
    bool openApplication(const parlino::DesktopEntry& application) override
    {
        openedApplications.push_back(application.id);
        return opens;
    }

    std::vector<QUrl> opened;
    std::vector<QString> openedApplications;
    bool opens = true;
};

} // namespace uitest
