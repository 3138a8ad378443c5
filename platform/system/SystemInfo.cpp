#include "platform/system/SystemInfo.hpp"

#include <fstream>
#include <set>
#include <sstream>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

std::string readFile(const char* path)
{
    std::ifstream stream(path);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// First value of a "key : value" line of /proc/cpuinfo.
std::string cpuinfoField(const std::string& cpuinfo, const std::string& field)
{
    std::istringstream lines(cpuinfo);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon != std::string::npos && trim(line.substr(0, colon)) == field) {
            return trim(line.substr(colon + 1));
        }
    }
    return "";
}

} // namespace

std::string SystemInfo::sysctlText(const std::string& key)
{
    return sysctlText(key, readFile("/proc/cpuinfo"));
}

std::string SystemInfo::sysctlText(const std::string& key, const std::string& cpuinfo)
{
    std::string value;
    if (key == "machdep.cpu.brand_string") {
        value = cpuinfoField(cpuinfo, "model name");
        if (value.empty()) {
            value = cpuinfoField(cpuinfo, "Model"); // ARM boards
        }
    } else if (key == "machdep.cpu.vendor") {
        value = cpuinfoField(cpuinfo, "vendor_id");
    } else if (key == "machdep.cpu.family") {
        value = cpuinfoField(cpuinfo, "cpu family");
    } else if (key == "machdep.cpu.thread_count") {
        long count = 0;
        std::istringstream lines(cpuinfo);
        std::string line;
        while (std::getline(lines, line)) {
            const auto colon = line.find(':');
            if (colon != std::string::npos && trim(line.substr(0, colon)) == "processor") {
                ++count;
            }
        }
        if (count == 0) {
            count = static_cast<long>(std::thread::hardware_concurrency());
        }
        value = count > 0 ? std::to_string(count) : "";
    } else if (key == "machdep.cpu.core_count") {
        // Distinct (physical id, core id) pairs; without them, the logical count.
        std::set<std::pair<std::string, std::string>> cores;
        std::string physical;
        std::istringstream lines(cpuinfo);
        std::string line;
        while (std::getline(lines, line)) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) {
                continue;
            }
            const std::string name = trim(line.substr(0, colon));
            if (name == "physical id") {
                physical = trim(line.substr(colon + 1));
            } else if (name == "core id") {
                cores.emplace(physical, trim(line.substr(colon + 1)));
            }
        }
        value = cores.empty() ? sysctlText("machdep.cpu.thread_count", cpuinfo) : std::to_string(cores.size()) + "\n";
        return value == "\n" ? "" : value;
    } else {
        return "";
    }
    return value.empty() ? "" : value + "\n";
}

std::string SystemInfo::machineName()
{
    struct utsname name {};
    if (::uname(&name) != 0) {
        return "";
    }
    return name.machine;
}

std::optional<std::uint64_t> SystemInfo::residentMemoryBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t sizePages = 0;
    std::uint64_t residentPages = 0;
    if (!(statm >> sizePages >> residentPages)) {
        return std::nullopt;
    }
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0) {
        return std::nullopt;
    }
    return residentPages * static_cast<std::uint64_t>(pageSize);
}

} // namespace platform
