#include "platform/system/SystemLog.hpp"

#include <cstdio>
#include <mutex>
#include <string>

namespace platform {

namespace {
std::string_view typeName(SystemLog::Type type)
{
    switch (type) {
    case SystemLog::Type::debug: return "debug";
    case SystemLog::Type::info: return "info";
    case SystemLog::Type::defaultType: return "default";
    case SystemLog::Type::error: return "error";
    case SystemLog::Type::fault: return "fault";
    }
    return "default";
}
} // namespace

void SystemLog::write(std::string_view subsystem, std::string_view category, Type type, std::string_view message)
{
    std::string line;
    line.reserve(message.size() + subsystem.size() + category.size() + 16);
    line.append("[").append(subsystem).append(":").append(category).append("] ");
    line.append("<").append(typeName(type)).append("> ").append(message).append("\n");
    // One write per line so that lines from several threads never interleave.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace platform
