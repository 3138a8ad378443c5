#include "platform/ml/programs/StepBatcher.hpp"

#include <algorithm>
#include <stdexcept>

namespace ml {

StepBatcher::StepBatcher(std::size_t capacity, Run run)
    : capacity_(std::max<std::size_t>(capacity, 1))
    , run_(std::move(run))
{
}

BatchSeat StepBatcher::join()
{
    const auto thread = std::this_thread::get_id();
    std::lock_guard lock(mutex_);
    ++seats_[thread];
    return BatchSeat([this, thread] { leave(thread); });
}

void StepBatcher::leave(std::thread::id thread)
{
    std::lock_guard lock(mutex_);
    const auto seat = seats_.find(thread);
    if (seat != seats_.end() && --seat->second == 0) {
        seats_.erase(seat);
    }
    changed_.notify_all();
}

std::size_t StepBatcher::seatedThreads() const
{
    std::lock_guard lock(mutex_);
    return seats_.size();
}

bool StepBatcher::ready() const { return waiting_.size() >= std::min(capacity_, std::max<std::size_t>(seats_.size(), 1)); }

DictionaryFeatureProvider StepBatcher::step(const FeatureProvider& input)
{
    std::unique_lock lock(mutex_);
    if (!seats_.contains(std::this_thread::get_id())) {
        lock.unlock();
        return runAlone(input);
    }
    Request request {&input};
    waiting_.push_back(&request);
    changed_.notify_all();
    while (!request.done) {
        if (!busy_) {
            // This thread gathers the next batch, which need not hold its own step.
            busy_ = true;
            changed_.wait(lock, [&] { return ready(); });
            runBatch(lock);
            busy_ = false;
            changed_.notify_all();
        } else {
            changed_.wait(lock);
        }
    }
    if (request.error) {
        std::rethrow_exception(request.error);
    }
    return std::move(request.result);
}

void StepBatcher::runBatch(std::unique_lock<std::mutex>& lock)
{
    const std::size_t count = std::min(capacity_, waiting_.size());
    std::vector<Request*> batch(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
    std::vector<const FeatureProvider*> inputs;
    for (const Request* request : batch) {
        inputs.push_back(request->input);
    }
    lock.unlock();
    try {
        std::vector<DictionaryFeatureProvider> results = checkedRun(inputs);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            batch[i]->result = std::move(results[i]);
        }
    } catch (...) {
        if (batch.size() == 1) {
            batch.front()->error = std::current_exception();
        } else {
            // One window's bad input must not fail the others.
            for (Request* request : batch) {
                try {
                    request->result = runAlone(*request->input);
                } catch (...) {
                    request->error = std::current_exception();
                }
            }
        }
    }
    lock.lock();
    for (Request* request : batch) {
        request->done = true;
    }
}

std::vector<DictionaryFeatureProvider> StepBatcher::checkedRun(std::span<const FeatureProvider* const> inputs) const
{
    auto results = run_(inputs);
    if (results.size() != inputs.size()) {
        throw std::logic_error("a batch gave a result count other than its step count");
    }
    return results;
}

DictionaryFeatureProvider StepBatcher::runAlone(const FeatureProvider& input) const
{
    const FeatureProvider* const alone = &input;
    return std::move(checkedRun(std::span(&alone, 1)).front());
}

} // namespace ml
