#pragma once

#include <cmath>
#include <fstream>
#include <string>

namespace testsupport {

// The 1, 5 and 15 minute load averages, printed beside every timing: on a shared machine every
// time grows with the load.
inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The peak resident memory (VmHWM) so far of the process `pid` ("self": this one), in MiB; NaN
// when it cannot be read.
inline double peakResidentMiB(const std::string& pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024;
        }
    }
    return NAN;
}

} // namespace testsupport
