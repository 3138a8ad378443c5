#include "platform/system/Console.hpp"

#include <cstdio>
#include <mutex>

namespace platform {

void Console::print(std::string_view line)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace platform
