#pragma once

#include <optional>
#include <string>

struct _XDisplay;

namespace platform::input {

// Catches the X errors of one connection while it lives, so that a refused request becomes a value
// instead of Xlib's default handler ending the process. Errors of other connections go to the
// handler that was installed before. Use on one thread at a time.
class ErrorTrap {
public:
    struct Error {
        int code = 0;           // e.g. BadAccess
        int requestCode = 0;
        std::string text;       // the server's name for the error
    };

    explicit ErrorTrap(_XDisplay* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits until the server has handled every request sent so far; the first error since the trap
    // was set (or since the last call), if any.
    std::optional<Error> sync();

private:
    friend struct ErrorTrapHandler;

    _XDisplay* display_;
    ErrorTrap* outer_;
    void* previous_ = nullptr;      // the handler installed before this trap
    std::optional<Error> first_;
};

} // namespace platform::input
