#pragma once

#include "app/library/LibraryService.hpp"
#include "app/recorder/Recording.hpp"
#include "app/recorder/RecordingCategory.hpp"
#include "platform/settings/UserDefaults.hpp"

namespace parlino {

// The category and title chosen in the after-recording options, given to a recording just saved by
// the record screen, the hotkey stop or a dictation.
class ChosenRecordingOptions {
public:
    // The stored category; Personal when none is stored, the text names no category, or it names
    // "All", which is the list's filter and never a recording's category.
    static RecordingCategory category(const platform::UserDefaults& defaults);

    // Gives `saved` (found by its id) the chosen category, then the pending title when one is
    // stored, which is used up. A failed update is ignored: the recording keeps what it was saved with.
    static void apply(LibraryService& library, platform::UserDefaults& defaults, const Recording& saved);
};

} // namespace parlino
