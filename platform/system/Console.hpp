#pragma once

#include <string_view>

namespace platform {

// The program's console: one line per event on standard output, written whole even when several
// threads print at once.
class Console {
public:
    static void print(std::string_view line);
};

} // namespace platform
