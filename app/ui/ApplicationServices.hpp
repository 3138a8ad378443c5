#pragma once

#include "app/ui/AppServices.hpp"
#include "app/dictation/Clipboard.hpp"
#include "app/library/AudioPlayerManager.hpp"
#include "app/ui/UrlOpener.hpp"

#include <memory>

namespace parlino {

// The application's composition root: the real managers behind AppServices. They are made the
// first time the main window asks for them, in the order it names them (library, hotkey,
// push-to-talk triggers, recorder), so that nothing of theirs runs during onboarding. The shared
// managers live until the process ends; the rest (the player of saved recordings, the desktop
// seams) lives as long as this object, which outlives every window.
class ApplicationServices {
public:
    ApplicationServices(platform::UserDefaults& defaults, design::AnimationClock& clock);
    // Ends the recorder's background work before the process exits.
    ~ApplicationServices();
    ApplicationServices(const ApplicationServices&) = delete;
    ApplicationServices& operator=(const ApplicationServices&) = delete;

    AppServices& services();
    bool isBuilt() const { return services_ != nullptr; }

private:
    platform::UserDefaults& defaults_;
    design::AnimationClock& clock_;
    SystemClipboard clipboard_;
    SystemUrlOpener urlOpener_;
    std::unique_ptr<AudioPlayerManager> audioPlayer_;
    std::unique_ptr<AppServices> services_;
};

} // namespace parlino
