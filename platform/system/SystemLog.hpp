#pragma once

#include <string_view>

namespace platform {

// The system log: one line per message on standard error, tagged with subsystem, category and type.
class SystemLog {
public:
    enum class Type { debug, info, defaultType, error, fault };

    static void write(std::string_view subsystem, std::string_view category, Type type, std::string_view message);
};

} // namespace platform
