#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform::input {

class XConnection;

// Whether this desktop lets the program watch and type keys: an X11 session (not Wayland) whose
// server offers RECORD (the listen-only tap) and XTEST (synthetic keys). The other input objects
// open connections of their own to `displayName()`.
class InputSession {
public:
    // `displayName` empty: $DISPLAY. Never throws: a session that cannot be used says why in `missing()`.
    explicit InputSession(const std::string& displayName = {});
    ~InputSession();
    InputSession(const InputSession&) = delete;
    InputSession& operator=(const InputSession&) = delete;

    bool isTrusted() const { return missing_.empty(); }
    // What stands in the way, one short English phrase each, e.g. "the X server has no RECORD extension".
    const std::vector<std::string>& missing() const { return missing_; }
    // The phrases of `missing()` joined with "; "; empty when trusted.
    std::string missingText() const;
    // The display that was opened (or tried); empty when none was named at all.
    const std::string& displayName() const { return displayName_; }

private:
    std::unique_ptr<XConnection> connection_;
    std::string displayName_;
    std::vector<std::string> missing_;
};

} // namespace platform::input
