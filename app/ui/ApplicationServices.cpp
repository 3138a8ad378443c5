#include "app/ui/ApplicationServices.hpp"

#include "app/library/RecordingsManager.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "app/recorder/WhisperRecorder.hpp"

namespace parlino {

namespace {

// Stand-ins until the system-wide dictation managers are wired in: no trigger is watched, no
// hotkey is registered, and a paste only puts the text on the clipboard.
class InertGlobeDictation final : public GlobeDictationService {
public:
    void requestAccessibilityPermission() override {}
    void startEventTap() override {}

protected:
    void triggerChanged(Trigger, bool) override {}
};

class InertGlobalHotkey final : public GlobalHotkeyService {
public:
    bool registerHotkey(std::uint32_t, std::uint16_t) override { return false; }
    void unregisterHotkey() override {}
    void clearHotkey() override {}
    void loadSavedHotkey() override {}
};

class ClipboardOnlyDictationHelper final : public DictationHelperService {
public:
    explicit ClipboardOnlyDictationHelper(Clipboard& clipboard)
        : clipboard_(clipboard)
    {
    }

    void pasteAtCursor(const QString& text) override
    {
        if (!text.isEmpty()) {
            clipboard_.clearContents();
            clipboard_.setText(text);
        }
    }
    void playFeedbackSound(FeedbackSound) override {}

private:
    Clipboard& clipboard_;
};

// The title of an edited transcript: a title it names, else its topic, else its key words.
QString titleForEditedTranscript(const QString& transcript)
{
    if (auto title = SmartNamingEngine::extractExplicitTitle(transcript)) {
        return *title;
    }
    if (auto title = SmartNamingEngine::detectTopicTitle(transcript)) {
        return *title;
    }
    return SmartNamingEngine::extractKeywords(transcript);
}

} // namespace

ApplicationServices::ApplicationServices(platform::UserDefaults& defaults, design::AnimationClock& clock)
    : defaults_(defaults)
    , clock_(clock)
{
}

ApplicationServices::~ApplicationServices() = default;

AppServices& ApplicationServices::services()
{
    if (!services_) {
        RecordingsManager& library = RecordingsManager::shared();
        library.setTitleGenerator(&titleForEditedTranscript);
        hotkey_ = std::make_unique<InertGlobalHotkey>();
        globeDictation_ = std::make_unique<InertGlobeDictation>();
        RecorderService& recorder = WhisperRecorder::shared();
        dictationHelper_ = std::make_unique<ClipboardOnlyDictationHelper>(clipboard_);
        services_ = std::make_unique<AppServices>(AppServices {defaults_, recorder, library, *globeDictation_, *hotkey_,
            *dictationHelper_, clipboard_, urlOpener_, clock_});
    }
    return *services_;
}

} // namespace parlino
