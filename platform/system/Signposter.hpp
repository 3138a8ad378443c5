#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Records named time intervals of one log category. Disabled signposters record nothing, so a
// begin/end pair costs an id and two branch tests.
class Signposter {
public:
    struct Event {
        enum class Kind { begin, end };
        Kind kind;
        std::string name;
        std::uint64_t id;
        std::string message;
        std::chrono::steady_clock::time_point time;
    };

    class IntervalState {
    public:
        std::uint64_t id() const { return id_; }
        bool isEnded() const { return *ended_; }

    private:
        friend class Signposter;
        std::uint64_t id_ = 0;
        std::shared_ptr<bool> ended_ = std::make_shared<bool>(false);
    };

    Signposter(std::string subsystem, std::string category);

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    void setEnabled(bool enabled);
    bool isEnabled() const;

    IntervalState beginInterval(const std::string& name);
    void endInterval(const std::string& name, const IntervalState& state);

    // Recorded events, oldest first (at most `maxEvents`), and intervals begun but not yet ended.
    std::vector<Event> events() const;
    long openIntervalCount() const;
    void clear();

    static constexpr std::size_t maxEvents = 4096;

private:
    void record(Event event);

    std::string subsystem_;
    std::string category_;
    mutable std::mutex mutex_;
    bool enabled_;
    std::uint64_t nextId_ = 1;
    long open_ = 0;
    std::vector<Event> events_;
};

} // namespace platform
