#pragma once

#include "app/dictation/Clipboard.hpp"
#include "app/dictation/Clock.hpp"
#include "app/dictation/DictationHelperService.hpp"
#include "app/dictation/GlobalHotkeyService.hpp"
#include "app/dictation/GlobeDictationService.hpp"
#include "app/library/AudioPlayback.hpp"
#include "app/library/FolderExportManager.hpp"
#include "app/library/LibraryService.hpp"
#include "app/recorder/RecorderService.hpp"
#include "app/ui/UrlOpener.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <cstdint>

namespace parlino {

// Everything the screens reach: the long-lived managers behind their interfaces, the settings,
// the desktop seams, the timer of their waits and the animation clock. The application's
// composition root fills it with the real managers, the UI tests with fakes. All of it outlives
// every window.
struct AppServices {
    platform::UserDefaults& defaults;
    RecorderService& recorder;
    LibraryService& library;
    // The one player of saved recordings, shared by the list and the detail pane.
    AudioPlayback& audioPlayer;
    FolderExportManager& exportManager;
    GlobeDictationService& globeDictation;
    GlobalHotkeyService& hotkey;
    DictationHelperService& dictationHelper;
    Clipboard& clipboard;
    UrlOpener& urlOpener;
    // Time and delayed steps of the screens' waits (the engine's readiness, for one).
    Clock& timer;
    design::AnimationClock& clock;
    // Seeds the decorative randomness (particle places), so that tests draw the same each run.
    std::uint32_t randomSeed = 0x5eed;
};

} // namespace parlino
