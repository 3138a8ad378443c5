#pragma once

#include "app/dictation/RecordingOutcome.hpp"
#include "app/recorder/RecordingResult.hpp"
#include "platform/settings/UserDefaults.hpp"

namespace parlino {

// What happens to a finished recording: whether its transcript goes to the clipboard or the cursor,
// whether it is saved to the library, whether its audio file is removed. Decided from the result and
// the settings alone; AfterRecordingActions carries it out.
struct AfterRecording {
    // The record screen's Stop, or the global hotkey's second press.
    enum class Road { window, hotkey };

    // The after-recording options as stored.
    struct Settings {
        bool copyToClipboard = false;
        bool saveToRecordings = false;
        bool saveAudioFile = false;

        static Settings read(const platform::UserDefaults& defaults);
    };

    // What else is known when the recording ends.
    struct Situation {
        Road road = Road::window;
        bool modelReady = true;
        // One of this program's windows has the keyboard focus: a paste would land in its own fields.
        bool ownWindowInFront = false;
    };

    Road road = Road::window;
    // Said on the console first: a recording kept against the settings, to be transcribed later.
    bool keepWithoutTranscript = false;
    bool copy = false;
    // The copy is said on the console; the hotkey road's stand-in for a paste into its own window is not.
    bool announceCopy = false;
    bool save = false;
    // Saved, but the settings asked for no audio: said, as the library entry needs the file.
    bool textOnly = false;
    bool removeAudio = false;
    bool paste = false;
    // Where the transcript goes before the save is tried; the save's own result completes it.
    RecordingOutcome outcome;

    static AfterRecording decide(const RecordingResult& result, const Settings& settings, const Situation& situation);
};

} // namespace parlino
