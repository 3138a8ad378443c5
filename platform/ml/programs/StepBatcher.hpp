#pragma once

#include "platform/ml/FeatureProvider.hpp"
#include "platform/ml/StepSeries.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

namespace ml {

// Runs the step series of several threads together, in rounds: one round runs the next step of
// every series running (at most `capacity`) as one batch, then every series' advance() at once,
// and goes on at once with the next. A series joins at the next round and leaves after the round
// that ends it, so a window that ends, stops early or fails never holds the others back, and one
// that starts later never waits for the others to reach a step. One of the waiting threads drives
// the rounds while the others sleep until their series ends; the driver hands over when its own
// series ends.
class StepBatcher {
public:
    // Returns one result per input, in order; `series` holds the series of each input. When it
    // throws for a batch, each step runs again alone, so an error reaches only the series whose
    // step causes it.
    using Run = std::function<std::vector<DictionaryFeatureProvider>(std::span<const FeatureProvider* const> inputs,
        std::span<StepSeries* const> series)>;
    // Calls body(i) once for every i in [0, count), several at once; the body does not throw.
    using ForEach = std::function<void(std::size_t count, const std::function<void(std::size_t)>& body)>;

    StepBatcher(std::size_t capacity, Run run, ForEach forEach);
    StepBatcher(const StepBatcher&) = delete;
    StepBatcher& operator=(const StepBatcher&) = delete;

    std::size_t capacity() const { return capacity_; }
    // Returns when the series has ended; rethrows what ended it.
    void run(StepSeries& series);
    // One step in a series of its own.
    DictionaryFeatureProvider step(const FeatureProvider& input);
    // Series running or waiting to.
    std::size_t seriesCount() const;

private:
    struct Entry {
        StepSeries* series = nullptr;
        const FeatureProvider* input = nullptr;
        std::exception_ptr error;
        bool ended = false; // set by its round
        bool done = false; // its thread may return
    };
    void drive(std::unique_lock<std::mutex>& lock, const Entry& own);
    void admitWaiting();
    void retireEnded();
    void runRound(std::span<Entry* const> round) const;
    std::vector<DictionaryFeatureProvider> outputsOf(std::span<Entry* const> round) const;
    std::vector<DictionaryFeatureProvider> checkedRun(std::span<const FeatureProvider* const> inputs,
        std::span<StepSeries* const> series) const;
    static void advance(Entry& entry, DictionaryFeatureProvider outputs);

    const std::size_t capacity_;
    const Run run_;
    const ForEach forEach_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry*> waiting_;
    std::vector<Entry*> running_;
    bool driving_ = false;
};

} // namespace ml
