#pragma once

#include "platform/ml/BatchSeat.hpp"
#include "platform/ml/FeatureProvider.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace ml {

// Gathers the steps of the threads that hold a seat into batches of at most `capacity`. A seated
// thread's step waits until every seated thread has a step waiting (or `capacity` steps wait), then
// one of the waiting threads runs them all together and hands each its result. A thread that gives
// up its seat no longer holds the others back, so a window that ends, stops early or is cancelled
// never stalls them. Steps of threads without a seat run at once, alone.
class StepBatcher {
public:
    // Returns one result per input, in order. When it throws for a batch, each step runs again
    // alone, so an error reaches only the steps that cause it.
    using Run = std::function<std::vector<DictionaryFeatureProvider>(std::span<const FeatureProvider* const>)>;

    StepBatcher(std::size_t capacity, Run run);
    StepBatcher(const StepBatcher&) = delete;
    StepBatcher& operator=(const StepBatcher&) = delete;

    std::size_t capacity() const { return capacity_; }
    // A seat for the calling thread.
    BatchSeat join();
    // Threads holding a seat now.
    std::size_t seatedThreads() const;
    DictionaryFeatureProvider step(const FeatureProvider& input);

private:
    struct Request {
        const FeatureProvider* input = nullptr;
        DictionaryFeatureProvider result;
        std::exception_ptr error;
        bool done = false;
    };
    void leave(std::thread::id thread);
    bool ready() const;
    void runBatch(std::unique_lock<std::mutex>& lock);
    std::vector<DictionaryFeatureProvider> checkedRun(std::span<const FeatureProvider* const> inputs) const;
    DictionaryFeatureProvider runAlone(const FeatureProvider& input) const;

    const std::size_t capacity_;
    const Run run_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::thread::id, std::size_t> seats_; // seats held per thread
    std::deque<Request*> waiting_;
    bool busy_ = false; // a thread gathers or runs a batch
};

} // namespace ml
