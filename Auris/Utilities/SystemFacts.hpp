#pragma once

#include <string>

namespace auris {

// Processor facts in the text the original `sysctl` tool prints (trailing newline kept), each read once.
class SystemFacts {
public:
    static std::string stringFromTerminal(const std::string& command);
    static const std::string& processor(); // "machdep.cpu.brand_string"
    static const std::string& cores();     // "machdep.cpu.core_count"
    static const std::string& threads();   // "machdep.cpu.thread_count"
    static const std::string& vendor();    // "machdep.cpu.vendor"
    static const std::string& family();    // "machdep.cpu.family"
};

} // namespace auris
