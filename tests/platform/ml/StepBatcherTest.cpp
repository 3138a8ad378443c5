#include "platform/ml/programs/StepBatcher.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace ml;

namespace {

DictionaryFeatureProvider counter(int value)
{
    DictionaryFeatureProvider features;
    features.set("n", MultiArray::fromValues<std::int32_t>({1}, std::vector<std::int32_t> {value}));
    return features;
}

int valueOf(const FeatureProvider& features) { return static_cast<int>(features.featureValue("n")->value({0})); }

// Counts from `first` by the model's answers for `steps` steps; the step after `badAt` asks for a
// negative number, which the model refuses, and after `throwAt` steps advance() itself throws.
class Counting final : public StepSeries {
public:
    Counting(int first, int steps, int badAt = -1, int throwAt = -1)
        : input_(counter(first))
        , steps_(steps)
        , badAt_(badAt)
        , throwAt_(throwAt)
    {
    }
    const FeatureProvider* start() override { return &input_; }
    const FeatureProvider* advance(DictionaryFeatureProvider outputs) override
    {
        seen.push_back(valueOf(outputs));
        if (static_cast<int>(seen.size()) == throwAt_) {
            throw std::runtime_error("series failed");
        }
        if (static_cast<int>(seen.size()) == steps_) {
            return nullptr;
        }
        input_ = counter(static_cast<int>(seen.size()) == badAt_ ? -1 : seen.back());
        return &input_;
    }
    std::vector<int> seen;

private:
    DictionaryFeatureProvider input_;
    int steps_, badAt_, throwAt_;
};

} // namespace

// The series of four threads and a single step run in rounds of at most three steps. The first
// thread drives and its series ends first, so another thread takes over; a refused input fails
// only its own series, and so does an advance() that throws.
TEST(StepBatcher, SeriesOfSeveralThreadsStepTogetherAndEndAlone)
{
    constexpr std::size_t threads = 5;
    std::atomic<std::size_t> rounds {0}, largest {0}, steps {0};
    StepBatcher* shared = nullptr;
    StepBatcher batcher(
        3,
        [&](std::span<const FeatureProvider* const> inputs, std::span<StepSeries* const>) {
            // The first round waits until every thread has joined, so the later ones hold full batches.
            while (rounds == 0 && shared->seriesCount() < threads) {
                std::this_thread::yield();
            }
            std::vector<DictionaryFeatureProvider> outputs;
            for (const FeatureProvider* input : inputs) {
                if (valueOf(*input) < 0) {
                    throw std::invalid_argument("negative input");
                }
                outputs.push_back(counter(valueOf(*input) + 1));
            }
            ++rounds;
            steps += inputs.size();
            largest = std::max<std::size_t>(largest, inputs.size());
            return outputs;
        },
        [](std::size_t count, const std::function<void(std::size_t)>& body) {
            for (std::size_t i = 0; i < count; ++i) {
                body(i);
            }
        });
    shared = &batcher;

    std::vector<Counting> series {Counting(0, 2), Counting(100, 9), Counting(200, 7, 3), Counting(300, 8, -1, 4)};
    std::vector<std::string> errors(threads);
    const auto runSeries = [&](std::size_t k) {
        try {
            batcher.run(series[k]);
        } catch (const std::exception& error) {
            errors[k] = error.what();
        }
    };
    DictionaryFeatureProvider single;
    {
        std::vector<std::jthread> running;
        running.emplace_back(runSeries, 0);
        while (batcher.seriesCount() == 0) {
            std::this_thread::yield();
        }
        for (std::size_t k = 1; k < threads - 1; ++k) {
            running.emplace_back(runSeries, k);
        }
        running.emplace_back([&] { single = batcher.step(counter(41)); });
    }

    EXPECT_EQ(series[0].seen, (std::vector<int> {1, 2}));
    EXPECT_EQ(series[1].seen, (std::vector<int> {101, 102, 103, 104, 105, 106, 107, 108, 109}));
    EXPECT_EQ(series[2].seen, (std::vector<int> {201, 202, 203}));
    EXPECT_EQ(errors[2], "negative input");
    EXPECT_EQ(series[3].seen, (std::vector<int> {301, 302, 303, 304}));
    EXPECT_EQ(errors[3], "series failed");
    EXPECT_EQ(valueOf(single), 42);
    for (const std::size_t k : {0, 1}) {
        EXPECT_EQ(errors[k], "") << "series " << k;
    }
    EXPECT_EQ(largest.load(), 3u);
    EXPECT_LT(rounds.load(), steps.load()) << "steps ran together";
    EXPECT_EQ(batcher.seriesCount(), 0u);
}
