#pragma once

#include "app/recorder/CaseError.hpp"

namespace parlino {

struct RecordingsErrorCases {
    enum Case {
        loadFailed,
        saveFailed,
        deleteFailed,
        invalidAudioFile,
    };

    static const char* messageOf(Case value)
    {
        switch (value) {
        case loadFailed: return "Failed to load recordings";
        case saveFailed: return "Failed to save recording";
        case deleteFailed: return "Failed to delete recording";
        case invalidAudioFile: return "Invalid audio file";
        }
        return "";
    }
};

// The library's error.
using RecordingsError = CaseError<RecordingsErrorCases>;

} // namespace parlino
