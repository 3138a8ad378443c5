#pragma once

#include "app/dictation/AfterRecording.hpp"
#include "app/dictation/Clipboard.hpp"
#include "app/dictation/DictationHelperService.hpp"
#include "app/dictation/DictationLog.hpp"
#include "app/dictation/RecordingOutcome.hpp"
#include "app/library/LibraryService.hpp"
#include "platform/settings/UserDefaults.hpp"

namespace parlino {

// Carries out what AfterRecording decided, in the order the console tells it: the clipboard, the save
// with the chosen category and title, the audio file, the paste.
class AfterRecordingActions {
public:
    struct Services {
        platform::UserDefaults& defaults;
        LibraryService& library;
        Clipboard& clipboard;
        DictationHelperService& dictationHelper;
        LogSink log;
    };

    explicit AfterRecordingActions(Services services);

    // Where the transcript went, the save's result included.
    RecordingOutcome carryOut(const AfterRecording& plan, const RecordingResult& result);

private:
    void copy(const AfterRecording& plan, const QString& transcript);
    void save(const AfterRecording& plan, const RecordingResult& result, RecordingOutcome& outcome);

    Services services_;
};

} // namespace parlino
