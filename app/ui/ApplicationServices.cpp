#include "app/ui/ApplicationServices.hpp"

#include "app/dictation/DictationHelper.hpp"
#include "app/dictation/GlobalHotkeyManager.hpp"
#include "app/dictation/GlobeDictationManager.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "app/recorder/WhisperRecorder.hpp"

namespace parlino {

namespace {

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

ApplicationServices::~ApplicationServices()
{
    // A model still loading at quit would go on past the end of main, into static objects already gone.
    if (services_) {
        WhisperRecorder::shared().finishWork();
    }
}

AppServices& ApplicationServices::services()
{
    if (!services_) {
        RecordingsManager& library = RecordingsManager::shared();
        library.setTitleGenerator(&titleForEditedTranscript);
        GlobalHotkeyManager& hotkey = GlobalHotkeyManager::shared();
        GlobeDictationManager& globeDictation = GlobeDictationManager::shared();
        WhisperRecorder& recorder = WhisperRecorder::shared();
        audioPlayer_ = std::make_unique<AudioPlayerManager>();
        services_ = std::make_unique<AppServices>(AppServices {
            .defaults = defaults_,
            .recorder = recorder,
            .library = library,
            .audioPlayer = *audioPlayer_,
            .exportManager = FolderExportManager::shared(),
            .globeDictation = globeDictation,
            .hotkey = hotkey,
            .dictationHelper = DictationHelper::shared(),
            .clipboard = clipboard_,
            .urlOpener = urlOpener_,
            .timer = SystemClock::shared(),
            .clock = clock_,
        });
    }
    return *services_;
}

} // namespace parlino
