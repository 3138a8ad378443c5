#include "platform/system/Signposter.hpp"

#include <cstdlib>
#include <cstring>

namespace platform {

Signposter::Signposter(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem))
    , category_(std::move(category))
{
    const char* setting = std::getenv("PARLINO_SIGNPOSTS");
    enabled_ = setting && std::strcmp(setting, "0") != 0;
}

void Signposter::setEnabled(bool enabled)
{
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
}

bool Signposter::isEnabled() const
{
    std::lock_guard lock(mutex_);
    return enabled_;
}

Signposter::IntervalState Signposter::beginInterval(const std::string& name)
{
    IntervalState state;
    std::lock_guard lock(mutex_);
    state.id_ = nextId_++;
    ++open_;
    if (enabled_) {
        record({Event::Kind::begin, name, state.id_, "", std::chrono::steady_clock::now()});
    }
    return state;
}

void Signposter::endInterval(const std::string& name, const IntervalState& state)
{
    std::lock_guard lock(mutex_);
    const bool alreadyEnded = *state.ended_;
    if (!alreadyEnded) {
        *state.ended_ = true;
        --open_;
    }
    if (enabled_) {
        record({Event::Kind::end, name, state.id_, alreadyEnded ? "[Error] Interval already ended" : "",
            std::chrono::steady_clock::now()});
    }
}

void Signposter::record(Event event)
{
    if (events_.size() >= maxEvents) {
        events_.erase(events_.begin(), events_.begin() + static_cast<long>(maxEvents / 2));
    }
    events_.push_back(std::move(event));
}

std::vector<Signposter::Event> Signposter::events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

long Signposter::openIntervalCount() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

void Signposter::clear()
{
    std::lock_guard lock(mutex_);
    events_.clear();
}

} // namespace platform
