#include "platform/ml/programs/CrossStateCache.hpp"

#include "platform/ml/Float16.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace ml;

namespace {

constexpr int width = 64, frames = 20;

MultiArray encoderOutput(unsigned seed)
{
    MultiArray array({1, width, 1, frames}, MultiArrayDataType::float16);
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-2.0f, 2.0f);
    auto* values = static_cast<std::uint16_t*>(array.dataPointer());
    for (std::size_t i = 0; i < array.count(); ++i) {
        values[i] = Float16::fromFloat(uniform(generator));
    }
    return array;
}

MultiArray copyOf(const MultiArray& array)
{
    MultiArray copy(array.shape(), array.dataType());
    std::memcpy(copy.dataPointer(), array.dataPointer(), array.count() * elementSize(array.dataType()));
    return copy;
}

struct Cache {
    explicit Cache(std::size_t kept)
        : cache(
              kept,
              [this](const MultiArray& output, const SourceBytes& source) {
                  ++made;
                  return CrossState::make(output, source, *buffers, pool);
              },
              [](const unsigned char* a, const unsigned char* b, std::size_t size) { return std::memcmp(a, b, size) == 0; })
    {
    }
    CrossStateCache::Found find(const MultiArray& output) { return cache.find(output, SourceBytes::of(output)); }
    std::shared_ptr<const CrossState> replace(const MultiArray& output) { return cache.replace(output, SourceBytes::of(output)); }

    std::shared_ptr<BufferPool> buffers = BufferPool::create();
    ThreadPool pool {2};
    int made = 0;
    CrossStateCache cache;
};

} // namespace

// A state holds the encoder output in both layouts. The same contents in another array find it
// again, to be confirmed; contents that agree only where find samples them get it too, and
// replace then gives the state of the exact contents, made once and found again after.
TEST(CrossStateCache, FindsStatesByContentsAndReplacesOnesThatDifferOutsideTheSamples)
{
    Cache cache(4);
    const MultiArray first = encoderOutput(1);
    const auto made = cache.find(first);
    ASSERT_TRUE(made.state);
    EXPECT_FALSE(made.needsConfirming);
    EXPECT_EQ(cache.made, 1);
    const auto* values = static_cast<const std::uint16_t*>(first.dataPointer());
    for (int c = 0; c < width; ++c) {
        for (int f = 0; f < frames; ++f) {
            const float value = Float16::toFloat(values[c * frames + f]);
            ASSERT_EQ(made.state->frames.at(f, c), value) << "frame " << f << ", channel " << c;
            ASSERT_EQ(made.state->channels.at(c, f), value) << "channel " << c << ", frame " << f;
        }
    }

    const auto again = cache.find(copyOf(first));
    EXPECT_EQ(again.state, made.state);
    EXPECT_TRUE(again.needsConfirming);
    EXPECT_EQ(cache.made, 1);

    // 2560 bytes sampled at 16 places 160 bytes apart, 64 bytes each: byte 100 lies between two.
    MultiArray nearly = copyOf(first);
    static_cast<unsigned char*>(nearly.dataPointer())[100] ^= 0x01;
    const auto unconfirmed = cache.find(nearly);
    EXPECT_EQ(unconfirmed.state, made.state);
    EXPECT_TRUE(unconfirmed.needsConfirming);
    const auto replaced = cache.replace(nearly);
    EXPECT_NE(replaced, made.state);
    EXPECT_EQ(cache.made, 2);
    EXPECT_EQ(std::memcmp(replaced->source.data(), nearly.dataPointer(), replaced->source.size()), 0);
    EXPECT_EQ(cache.replace(copyOf(nearly)), replaced);
    EXPECT_EQ(cache.replace(copyOf(first)), made.state);
    EXPECT_EQ(cache.made, 2);

    const auto other = cache.find(encoderOutput(2));
    EXPECT_FALSE(other.needsConfirming);
    EXPECT_NE(other.state, made.state);
    EXPECT_EQ(cache.made, 3);

    // A float32 encoder output of the same values is another source.
    MultiArray wide({1, width, 1, frames}, MultiArrayDataType::float32);
    for (std::size_t i = 0; i < first.count(); ++i) {
        static_cast<float*>(wide.dataPointer())[i] = Float16::toFloat(values[i]);
    }
    const auto widened = cache.find(wide);
    EXPECT_FALSE(widened.needsConfirming);
    EXPECT_EQ(widened.state->sourceType, MultiArrayDataType::float32);
    EXPECT_EQ(widened.state->frames.at(3, 5), made.state->frames.at(3, 5));
    EXPECT_EQ(cache.made, 4);
}

// Held states stay whatever their number; of the others the newest and two more stay, the least
// recently used go first, and windows stepping without a series keep theirs too, up to the
// cache's limit.
TEST(CrossStateCache, KeepsHeldStatesAndTheMostRecentlyUsedOfTheOthers)
{
    Cache cache(3);
    std::vector<MultiArray> outputs;
    for (unsigned i = 0; i < 8; ++i) {
        outputs.push_back(encoderOutput(10 + i));
    }
    auto held = cache.find(outputs[0]).state;
    for (std::size_t i = 1; i <= 4; ++i) {
        cache.find(outputs[i]);
    }
    EXPECT_EQ(cache.cache.size(), 4u) << "the held state, the newest and two more";
    EXPECT_EQ(cache.made, 5);
    EXPECT_EQ(cache.find(outputs[0]).state, held);
    cache.find(outputs[3]);
    cache.find(outputs[4]);
    EXPECT_EQ(cache.made, 5);

    // Marked used last, 3 outlives 4.
    auto third = cache.find(outputs[3]).state;
    cache.find(outputs[4]);
    cache.cache.markUsed(third);
    third.reset();
    cache.find(outputs[5]);
    cache.find(outputs[6]);
    EXPECT_EQ(cache.made, 7);
    cache.find(outputs[3]);
    EXPECT_EQ(cache.made, 7);
    cache.find(outputs[4]);
    EXPECT_EQ(cache.made, 8);

    held.reset();
    cache.cache.setLooseWindows(5);
    for (const MultiArray& output : outputs) {
        cache.find(output);
    }
    EXPECT_EQ(cache.cache.size(), 4u) << "the newest and no more than the limit";
    const int made = cache.made;
    for (std::size_t i = 4; i < outputs.size(); ++i) {
        cache.find(outputs[i]);
    }
    EXPECT_EQ(cache.made, made) << "the four last kept";
}
