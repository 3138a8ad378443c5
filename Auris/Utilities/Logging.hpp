#pragma once

#include "platform/system/NumberText.hpp"
#include "platform/system/SystemLog.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace auris {

// Text of one logged item, as the engine's log lines show values.
inline std::string logDescription(const std::string& value) { return value; }
inline std::string logDescription(std::string_view value) { return std::string(value); }
inline std::string logDescription(const char* value) { return value ? value : ""; }
inline std::string logDescription(bool value) { return value ? "true" : "false"; }
inline std::string logDescription(float value) { return platform::numberText(value); }
inline std::string logDescription(double value) { return platform::numberText(value); }
template<typename T>
    requires std::is_integral_v<T>
std::string logDescription(T value)
{
    return std::to_string(value);
}

// The engine's one logger: a line is written or dropped by one engine-wide level, and a written
// line goes to the installed callback or, without one, to the system log.
class Logging {
public:
    enum class LogLevel : int { debug = 1, info = 2, error = 3, none = 4 };
    using Callback = std::function<void(const std::string&)>;
    using LogType = platform::SystemLog::Type;

    static constexpr const char* defaultSubsystem = "com.aurislabs.auris";
    static constexpr const char* category = "Auris";

    static std::optional<LogLevel> logLevelFromRawValue(int rawValue);

    static Logging& shared();

    LogLevel logLevel() const { return static_cast<LogLevel>(logLevel_.load(std::memory_order_relaxed)); }
    // Whether lines of that level are written now: callers on hot paths test it before building
    // a costly line, so that the line costs nothing while the level is off.
    static bool writes(LogLevel level) { return shared().logLevel() <= level; }
    void setLogLevel(LogLevel level) { logLevel_.store(static_cast<int>(level), std::memory_order_relaxed); }

    // An empty function removes the callback.
    void setLoggingCallback(Callback callback);
    bool hasLoggingCallback() const;

    // Renders and delivers without a level test; the terminator is accepted and not used.
    void log(const std::string& rendered, LogType type);

    template<typename... Items>
    static void debug(const Items&... items)
    {
        if (writes(LogLevel::debug)) {
            shared().log(render(" ", items...), LogType::debug);
        }
    }

    template<typename... Items>
    static void info(const Items&... items)
    {
        if (writes(LogLevel::info)) {
            shared().log(render(" ", items...), LogType::info);
        }
    }

    template<typename... Items>
    static void error(const Items&... items)
    {
        if (writes(LogLevel::error)) {
            shared().log(render(" ", items...), LogType::error);
        }
    }

    template<typename... Items>
    static std::string render(std::string_view separator, const Items&... items)
    {
        std::string line;
        bool first = true;
        [[maybe_unused]] auto append = [&](const std::string& text) {
            if (!first) {
                line.append(separator);
            }
            line += text;
            first = false;
        };
        (append(logDescription(items)), ...);
        return line;
    }

    Logging();

private:
    std::atomic<int> logLevel_;
    mutable std::mutex callbackMutex_;
    std::shared_ptr<const Callback> callback_;
    std::string subsystem_;
};

// Writes "<message> - Memory usage: <N> MB" at debug level, N the resident size in whole MiB (0 if unknown).
void logCurrentMemoryUsage(const std::string& message);
std::uint64_t getMemoryUsage();

} // namespace auris
