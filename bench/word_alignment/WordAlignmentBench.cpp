// Dynamic time warping of one window's alignment weights: up to 224 tokens by 1500 frames of
// float16. Goal: well under 10 ms per window on one core, small next to the window's decode.
#include "Auris/Segments/SegmentSeeker.hpp"

#include <benchmark/benchmark.h>

#include <random>

namespace {

void warpWindow(benchmark::State& state)
{
    const int tokens = static_cast<int>(state.range(0));
    constexpr int frames = 1500;
    ml::MultiArray weights({tokens, frames}, ml::MultiArrayDataType::float16);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (std::size_t i = 0; i < weights.count(); ++i) {
        weights.setLinear(i, noise(random));
    }
    const auris::SegmentSeeker seeker;
    for (auto _ : state) {
        benchmark::DoNotOptimize(seeker.dynamicTimeWarping(weights));
    }
    state.SetItemsProcessed(state.iterations() * tokens * frames);
}

} // namespace

BENCHMARK(warpWindow)->Arg(32)->Arg(224)->Unit(benchmark::kMillisecond);
