#include "Auris/Utilities/SystemFacts.hpp"

#include "platform/system/SystemInfo.hpp"

namespace auris {

std::string SystemFacts::stringFromTerminal(const std::string& command)
{
    return platform::SystemInfo::sysctlText(command);
}

const std::string& SystemFacts::processor()
{
    static const std::string value = stringFromTerminal("machdep.cpu.brand_string");
    return value;
}

const std::string& SystemFacts::cores()
{
    static const std::string value = stringFromTerminal("machdep.cpu.core_count");
    return value;
}

const std::string& SystemFacts::threads()
{
    static const std::string value = stringFromTerminal("machdep.cpu.thread_count");
    return value;
}

const std::string& SystemFacts::vendor()
{
    static const std::string value = stringFromTerminal("machdep.cpu.vendor");
    return value;
}

const std::string& SystemFacts::family()
{
    static const std::string value = stringFromTerminal("machdep.cpu.family");
    return value;
}

} // namespace auris
