#include "TensorUtils/LogitsProcessor.hpp"
#include "TensorUtils/LogitsWarpers.hpp"

#include <gtest/gtest.h>

using namespace tensorutils;

TEST(LogitsWarpers, TemperatureAndTopK)
{
    EXPECT_EQ(TemperatureLogitsWarper(2).warp({4, 9}, {2, -6}), (Candidates {{4, 9}, {1, -3}}));

    const TopKLogitsWarper top2(2);
    EXPECT_EQ(top2.warp({10, 11, 12}, {1, 3, 2}), (Candidates {{11, 12}, {3, 2}}));
    EXPECT_EQ(TopKLogitsWarper(5).warp({0, 1, 2}, {1, 3, 2}), (Candidates {{1, 2, 0}, {3, 2, 1}}));
    EXPECT_EQ(TopKLogitsWarper(2).warp({0, 1, 2}, {5, 1, 5}), (Candidates {{0, 2}, {5, 5}}));
    EXPECT_EQ(TopKLogitsWarper(0).warp({0}, {1}), Candidates {});
    EXPECT_EQ(top2.warp({}, {}), Candidates {});
    EXPECT_THROW(TopKLogitsWarper(-1), std::invalid_argument);
    EXPECT_THROW(top2.warp({0}, {1, 2}), std::invalid_argument);
}

TEST(LogitsWarpers, TopP)
{
    const std::vector<int> ids {0, 1, 2};
    const std::vector<float> logits {1, 3, 2}; // probabilities about 0.09, 0.67, 0.24
    EXPECT_EQ(TopPLogitsWarper(0).warp(ids, logits), (Candidates {{1}, {3}}));
    EXPECT_EQ(TopPLogitsWarper(0.7f).warp(ids, logits), (Candidates {{1, 2}, {3, 2}}));
    EXPECT_EQ(TopPLogitsWarper(1).warp(ids, logits).indices.size(), 3u);
    EXPECT_EQ(TopPLogitsWarper(0.49f).warp({0, 1}, {0, 0}).indices, std::vector<int> {0});
    EXPECT_EQ(TopPLogitsWarper(0.5f).warp({0, 1}, {0, 0}).indices, (std::vector<int> {0, 1}));
    EXPECT_EQ(TopPLogitsWarper(0.5f).warp({}, {}), Candidates {});
}

TEST(LogitsWarpers, ProcessorChainsInOrder)
{
    const LogitsProcessor processor({std::make_shared<TopKLogitsWarper>(2), std::make_shared<TemperatureLogitsWarper>(0.5f)});
    EXPECT_EQ(processor({1, 3, 2}), (Candidates {{1, 2}, {6, 4}}));
    EXPECT_EQ(LogitsProcessor()({1, 3}), (Candidates {{0, 1}, {1, 3}}));
}
