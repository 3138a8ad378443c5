#include "Auris/Utilities/TextFormatting.hpp"

#include "platform/system/Folders.hpp"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace auris {

std::string formatString(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

std::string formatTimingLine(double seconds, double runs, double fullPipelineMilliseconds)
{
    const double milliseconds = seconds * 1000;
    const double perRun = runs > 0 ? milliseconds / runs : 0;
    return formatString("%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%", milliseconds, runs, perRun,
        milliseconds / fullPipelineMilliseconds * 100);
}

std::string resolveAbsolutePath(const std::string& path)
{
    std::string expanded = path;
    if (expanded == "~" || expanded.starts_with("~/")) {
        expanded = platform::Folders::home().string() + expanded.substr(1);
    }
    if (expanded.starts_with("/")) {
        return expanded;
    }
    std::error_code error;
    const auto current = std::filesystem::current_path(error);
    return (current / expanded).string();
}

} // namespace auris
