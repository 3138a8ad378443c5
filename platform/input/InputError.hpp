#pragma once

#include <stdexcept>

namespace platform::input {

// The X server cannot be reached, lacks an extension, refuses a request, or a key has no place on the layout.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace platform::input
