#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
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

// How a run in a process of its own ended.
struct ChildRun {
    int exitStatus = 1; // 1 when the process did not exit by itself
    double peakResidentMiB = 0; // the child's own peak resident size (VmHWM at its end)
};

// Runs `work` in a forked process and waits for it: its peak resident size is then its own, free of
// what the parent holds. What `work` throws is printed and makes the status 1.
inline ChildRun runInChild(const std::function<int()>& work)
{
    std::cout.flush();
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("cannot start a process");
    }
    if (child == 0) {
        int status = 1;
        try {
            status = work();
        } catch (const std::exception& error) {
            std::cerr << "  failed: " << error.what() << "\n";
        }
        std::cout.flush();
        std::fflush(stdout);
        ::_exit(status);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child) {
        throw std::runtime_error("cannot wait for a process");
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 1, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

} // namespace testsupport
