#pragma once

#include <stdexcept>
#include <string>

namespace parlino {

// The library's error; each case describes itself with its fixed message.
class RecordingsError : public std::runtime_error {
public:
    enum Case {
        loadFailed,
        saveFailed,
        deleteFailed,
        invalidAudioFile,
    };

    explicit RecordingsError(Case value)
        : std::runtime_error(messageOf(value))
        , case_(value)
    {
    }

    Case errorCase() const { return case_; }
    std::string localizedDescription() const { return what(); }

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

    friend bool operator==(const RecordingsError& a, const RecordingsError& b) { return a.case_ == b.case_; }

private:
    Case case_;
};

} // namespace parlino
