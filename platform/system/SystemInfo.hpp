#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Facts about the machine and this process, read from /proc and uname(2).
class SystemInfo {
public:
    // The text `sysctl -n <key>` prints on the original platform, trailing newline included, for
    // the processor keys "machdep.cpu.brand_string", "machdep.cpu.core_count",
    // "machdep.cpu.thread_count", "machdep.cpu.vendor" and "machdep.cpu.family"; unknown keys and
    // unreadable facts give "".
    static std::string sysctlText(const std::string& key);
    static std::string sysctlText(const std::string& key, const std::string& cpuinfoText);

    // The `machine` field of uname(2), e.g. "x86_64" or "aarch64".
    static std::string machineName();

    // Resident set size of this process in bytes; absent when it cannot be read.
    static std::optional<std::uint64_t> residentMemoryBytes();
};

} // namespace platform
