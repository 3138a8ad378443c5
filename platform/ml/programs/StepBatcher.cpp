#include "platform/ml/programs/StepBatcher.hpp"

#include <algorithm>
#include <stdexcept>

namespace ml {

namespace {
// A single prediction as a series of one step.
class OneStep final : public StepSeries {
public:
    explicit OneStep(const FeatureProvider& input) : input_(input) {}
    const FeatureProvider* start() override { return &input_; }
    const FeatureProvider* advance(DictionaryFeatureProvider outputs) override
    {
        outputs_ = std::move(outputs);
        return nullptr;
    }
    DictionaryFeatureProvider& outputs() { return outputs_; }

private:
    const FeatureProvider& input_;
    DictionaryFeatureProvider outputs_;
};

} // namespace

StepBatcher::StepBatcher(std::size_t capacity, Run run, ForEach forEach)
    : capacity_(std::max<std::size_t>(capacity, 1))
    , run_(std::move(run))
    , forEach_(std::move(forEach))
{
}

std::size_t StepBatcher::seriesCount() const
{
    std::lock_guard lock(mutex_);
    return running_.size() + waiting_.size();
}

DictionaryFeatureProvider StepBatcher::step(const FeatureProvider& input)
{
    OneStep series(input);
    run(series);
    return std::move(series.outputs());
}

void StepBatcher::run(StepSeries& series)
{
    Entry own {&series, series.start()};
    if (!own.input) {
        return;
    }
    std::unique_lock lock(mutex_);
    waiting_.push_back(&own);
    while (!own.done) {
        if (!driving_) {
            drive(lock, own);
        } else {
            changed_.wait(lock);
        }
    }
    lock.unlock();
    if (own.error) {
        std::rethrow_exception(own.error);
    }
}

// Rounds follow each other without a hand-over in between; the driver's own series may wait for
// a place while it drives those of others.
void StepBatcher::drive(std::unique_lock<std::mutex>& lock, const Entry& own)
{
    driving_ = true;
    while (!own.done) {
        admitWaiting();
        const std::vector<Entry*> round = running_;
        lock.unlock();
        runRound(round);
        lock.lock();
        retireEnded();
    }
    driving_ = false;
    // A thread whose series still runs takes over.
    if (!running_.empty() || !waiting_.empty()) {
        changed_.notify_all();
    }
}

void StepBatcher::admitWaiting()
{
    while (running_.size() < capacity_ && !waiting_.empty()) {
        running_.push_back(waiting_.front());
        waiting_.pop_front();
    }
}

void StepBatcher::retireEnded()
{
    bool retired = false;
    std::erase_if(running_, [&](Entry* entry) {
        if (entry->ended) {
            entry->done = true;
            retired = true;
        }
        return entry->ended;
    });
    if (retired) {
        changed_.notify_all();
    }
}

void StepBatcher::runRound(std::span<Entry* const> round) const
{
    try {
        std::vector<DictionaryFeatureProvider> outputs = outputsOf(round);
        forEach_(round.size(), [&](std::size_t i) { advance(*round[i], std::move(outputs[i])); });
    } catch (...) {
        // Only memory running out gets here: the round's series end with it.
        for (Entry* entry : round) {
            if (!entry->ended) {
                entry->error = std::current_exception();
                entry->ended = true;
            }
        }
    }
}

// Series whose step fails end with its error; their outputs stay empty.
std::vector<DictionaryFeatureProvider> StepBatcher::outputsOf(std::span<Entry* const> round) const
{
    std::vector<const FeatureProvider*> inputs;
    std::vector<StepSeries*> series;
    for (const Entry* entry : round) {
        inputs.push_back(entry->input);
        series.push_back(entry->series);
    }
    try {
        return checkedRun(inputs, series);
    } catch (...) {
        if (round.size() == 1) {
            round.front()->error = std::current_exception();
            round.front()->ended = true;
            return std::vector<DictionaryFeatureProvider>(1);
        }
    }
    // One window's bad input must not fail the others.
    std::vector<DictionaryFeatureProvider> outputs(round.size());
    for (std::size_t i = 0; i < round.size(); ++i) {
        try {
            outputs[i] = std::move(checkedRun(std::span(&inputs[i], 1), std::span(&series[i], 1)).front());
        } catch (...) {
            round[i]->error = std::current_exception();
            round[i]->ended = true;
        }
    }
    return outputs;
}

std::vector<DictionaryFeatureProvider> StepBatcher::checkedRun(std::span<const FeatureProvider* const> inputs,
    std::span<StepSeries* const> series) const
{
    auto results = run_(inputs, series);
    if (results.size() != inputs.size()) {
        throw std::logic_error("a batch gave a result count other than its step count");
    }
    return results;
}

void StepBatcher::advance(Entry& entry, DictionaryFeatureProvider outputs)
{
    if (entry.ended) {
        return;
    }
    try {
        entry.input = entry.series->advance(std::move(outputs));
        entry.ended = entry.input == nullptr;
    } catch (...) {
        entry.error = std::current_exception();
        entry.ended = true;
    }
}

} // namespace ml
