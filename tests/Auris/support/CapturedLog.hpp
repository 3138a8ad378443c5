#pragma once

#include "Auris/Utilities/Logging.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Routes the engine's shared logger into a list for one test and restores it afterwards.
class CapturedLog {
public:
    explicit CapturedLog(auris::Logging::LogLevel level)
    {
        auris::Logging::shared().setLogLevel(level);
        auris::Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~CapturedLog()
    {
        auris::Logging::shared().setLoggingCallback(nullptr);
        auris::Logging::shared().setLogLevel(auris::Logging::LogLevel::none);
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::vector<std::string> lines()
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace testsupport
