#include "Hub/CurrentValuePublisher.hpp"
#include "Hub/Progress.hpp"

#include <gtest/gtest.h>

using hub::Progress;

TEST(Progress, ChildrenContributeTheirPendingUnitsInProportion)
{
    Progress parent(2);
    auto first = std::make_shared<Progress>(100);
    auto second = std::make_shared<Progress>(100);
    parent.addChild(first, 1);
    parent.addChild(second, 1);
    EXPECT_EQ(parent.fractionCompleted(), 0);

    first->setCompletedUnitCount(42);
    EXPECT_DOUBLE_EQ(parent.fractionCompleted(), 0.21);
    EXPECT_EQ(parent.completedUnitCount(), 0);
    first->setCompletedUnitCount(100);
    EXPECT_DOUBLE_EQ(parent.fractionCompleted(), 0.5);
    EXPECT_EQ(parent.completedUnitCount(), 1);
    EXPECT_FALSE(parent.isFinished());
    EXPECT_EQ(parent.description(), "Fraction completed: 0.5000 / Completed: 1 of 2");

    second->setCompletedUnitCount(250); // overshoot stays within 0...1
    EXPECT_DOUBLE_EQ(parent.fractionCompleted(), 1);
    EXPECT_TRUE(parent.isFinished());

    Progress empty(0);
    EXPECT_EQ(empty.fractionCompleted(), 0);
    EXPECT_FALSE(empty.isFinished());
    Progress indeterminate(-1);
    indeterminate.setCompletedUnitCount(5);
    EXPECT_EQ(indeterminate.fractionCompleted(), 0);
}

TEST(CurrentValuePublisher, DeliversCurrentThenNewValuesUntilCancelled)
{
    hub::CurrentValuePublisher<int> publisher(1);
    std::vector<int> seen;
    auto subscription = publisher.subscribe([&](const int& value) { seen.push_back(value); });
    publisher.send(2);
    subscription.cancel();
    publisher.send(3);
    EXPECT_EQ(seen, (std::vector<int> { 1, 2 }));
    EXPECT_EQ(publisher.value(), 3);

    // A subscriber that cancels another during a delivery: the other one is not called again.
    std::vector<int> other;
    hub::CurrentValuePublisher<int>::Subscription second;
    auto first = publisher.subscribe([&](const int& value) {
        if (value == 4) {
            second.cancel();
        }
    });
    second = publisher.subscribe([&](const int& value) { other.push_back(value); });
    publisher.send(4);
    EXPECT_EQ(other, (std::vector<int> { 3 }));

    // A subscription that outlives its publisher is harmless.
    hub::CurrentValuePublisher<int>::Subscription orphan;
    {
        hub::CurrentValuePublisher<int> shortLived(0);
        orphan = shortLived.subscribe([](const int&) {});
    }
    orphan.cancel();
}
