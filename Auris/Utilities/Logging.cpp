#include "Auris/Utilities/Logging.hpp"

#include "platform/system/SystemInfo.hpp"

#include <cstdlib>

namespace auris {

std::optional<Logging::LogLevel> Logging::logLevelFromRawValue(int rawValue)
{
    if (rawValue < 1 || rawValue > 4) {
        return std::nullopt;
    }
    return static_cast<LogLevel>(rawValue);
}

Logging& Logging::shared()
{
    static Logging instance;
    return instance;
}

Logging::Logging()
    : logLevel_(static_cast<int>(LogLevel::none))
{
    // The program's own identifier when the host sets one, as a bundle identifier would be.
    const char* identifier = std::getenv("PARLINO_BUNDLE_IDENTIFIER");
    subsystem_ = identifier && *identifier ? identifier : defaultSubsystem;
}

void Logging::setLoggingCallback(Callback callback)
{
    std::shared_ptr<const Callback> next = callback ? std::make_shared<const Callback>(std::move(callback)) : nullptr;
    std::lock_guard lock(callbackMutex_);
    callback_ = std::move(next);
}

bool Logging::hasLoggingCallback() const
{
    std::lock_guard lock(callbackMutex_);
    return callback_ != nullptr;
}

void Logging::log(const std::string& rendered, LogType type)
{
    std::shared_ptr<const Callback> callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = callback_;
    }
    // Called outside the lock so that a callback may log or replace itself.
    if (callback) {
        (*callback)(rendered);
    } else {
        platform::SystemLog::write(subsystem_, category, type, rendered);
    }
}

std::uint64_t getMemoryUsage()
{
    return platform::SystemInfo::residentMemoryBytes().value_or(0) >> 20;
}

void logCurrentMemoryUsage(const std::string& message)
{
    Logging::debug(message + " - Memory usage: " + std::to_string(getMemoryUsage()) + " MB");
}

} // namespace auris
