#pragma once

#include "Auris/Utilities/Logging.hpp"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Collects the engine's log lines at debug level for one scope.
class LogCapture {
public:
    LogCapture()
    {
        auris::Logging::shared().setLogLevel(auris::Logging::LogLevel::debug);
        auris::Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture()
    {
        auris::Logging::shared().setLoggingCallback(nullptr);
        auris::Logging::shared().setLogLevel(auris::Logging::LogLevel::none);
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    // The lines that begin with the prefix.
    std::vector<std::string> startingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& line : lines()) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace testsupport
