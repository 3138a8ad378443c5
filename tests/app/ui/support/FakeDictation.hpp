#pragma once

#include "app/dictation/DictationHelperService.hpp"
#include "app/dictation/GlobalHotkeyService.hpp"
#include "app/dictation/GlobeDictationService.hpp"
#include "app/ui/Clipboard.hpp"
#include "app/ui/UrlOpener.hpp"

#include <QList>
#include <QUrl>

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

// A hotkey the test presses.
class FakeHotkey final : public parlino::GlobalHotkeyService {
    Q_OBJECT

public:
    using GlobalHotkeyService::GlobalHotkeyService;

    bool registerHotkey(std::uint32_t, std::uint16_t) override { return true; }
    void unregisterHotkey() override {}
    void clearHotkey() override {}
    void loadSavedHotkey() override {}

    void press() { hotkeyPressed(); }
};

// Records pastes and sounds.
class FakeDictationHelper final : public parlino::DictationHelperService {
    Q_OBJECT

public:
    using DictationHelperService::DictationHelperService;

    void pasteAtCursor(const QString& text) override { pastes.push_back(text); }
    void playFeedbackSound(parlino::FeedbackSound sound) override { sounds.push_back(sound); }

    std::vector<QString> pastes;
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

class FakeUrlOpener final : public parlino::UrlOpener {
public:
    bool openUrl(const QUrl& url) override
    {
        opened.push_back(url);
        return opens;
    }

    std::vector<QUrl> opened;
    bool opens = true;
};

} // namespace uitest
