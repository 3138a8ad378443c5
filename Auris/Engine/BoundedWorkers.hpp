#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace auris {

// Runs indexed work on the calling thread and on helper threads taken from a fixed budget. The
// caller always works itself and helpers are only started while the budget lasts, so nested runs
// share one bound and never wait for a thread to become free.
class BoundedWorkers {
public:
    // At most `helperLimit` helper threads at once over all runs (negative counts as 0).
    explicit BoundedWorkers(int helperLimit);
    BoundedWorkers(const BoundedWorkers&) = delete;
    BoundedWorkers& operator=(const BoundedWorkers&) = delete;

    // One helper fewer than the machine has cores, so a run never uses more threads than cores.
    static int machineHelperLimit();

    int helperLimit() const;
    // Lets at least `helperLimit` helpers run at once from now on; a lower count changes nothing.
    void raiseLimit(int helperLimit);

    // Calls body(i) once for every i in [0, count), on at most `threadLimit` threads, and returns
    // when every call has finished. The body must not throw.
    void run(std::size_t count, const std::function<void(std::size_t index)>& body, std::size_t threadLimit = SIZE_MAX);

private:
    bool takeHelper();
    void returnHelper();

    mutable std::mutex mutex_;
    int helperLimit_;
    int available_;
};

} // namespace auris
