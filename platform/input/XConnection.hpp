#pragma once

#include <optional>
#include <string>

struct _XDisplay;

namespace platform::input {

// One Xlib connection, closed on destruction. A lost server marks the connection broken instead of
// ending the process, as Xlib would by default; every later request on it then fails quietly.
class XConnection {
public:
    // `displayName` empty: $DISPLAY. Throws InputError when the display cannot be opened.
    explicit XConnection(const std::string& displayName);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    _XDisplay* display() const { return display_; }
    int fd() const;
    const std::string& name() const { return name_; }
    bool isBroken() const { return broken_; }

    // The display name a connection with `displayName` would use: itself, else $DISPLAY, else nothing.
    static std::optional<std::string> resolveName(const std::string& displayName);

private:
    static void onConnectionLost(_XDisplay* display, void* self);

    _XDisplay* display_ = nullptr;
    std::string name_;
    bool broken_ = false;
};

} // namespace platform::input
