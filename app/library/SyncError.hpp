#pragma once

#include <stdexcept>
#include <string>

namespace parlino {

// A failed cloud operation as the sync manager reports it. The two failure cases carry the
// description of what went wrong; `what()` is the error's description.
class SyncError : public std::runtime_error {
public:
    enum Case {
        uploadFailed,
        downloadFailed,
        notSignedIn,
        networkUnavailable,
        assetUploadFailed,
        recordNotFound,
        cloudKitUnavailable,
    };

    explicit SyncError(Case value, std::string text = {})
        : std::runtime_error(describe(value, text))
        , case_(value)
        , text_(std::move(text))
    {
    }

    Case errorCase() const { return case_; }
    // The failure's description that `uploadFailed` and `downloadFailed` carry.
    const std::string& text() const { return text_; }
    std::string errorDescription() const { return what(); }
    std::string localizedDescription() const { return what(); }

    static std::string describe(Case value, const std::string& text)
    {
        switch (value) {
        case uploadFailed: return "Upload failed: " + text;
        case downloadFailed: return "Download failed: " + text;
        case notSignedIn: return "Not signed in to iCloud";
        case networkUnavailable: return "Network unavailable";
        case assetUploadFailed: return "Failed to upload audio file";
        case recordNotFound: return "Recording not found in iCloud";
        case cloudKitUnavailable: return "CloudKit not available";
        }
        return {};
    }

    friend bool operator==(const SyncError& a, const SyncError& b) { return a.case_ == b.case_ && a.text_ == b.text_; }

private:
    Case case_;
    std::string text_;
};

} // namespace parlino
