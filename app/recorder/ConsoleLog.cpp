#include "app/recorder/ConsoleLog.hpp"

#include "platform/system/Console.hpp"

namespace parlino {

ConsoleLog standardOutputLog()
{
    return [](const std::string& line) { platform::Console::print(line); };
}

} // namespace parlino
