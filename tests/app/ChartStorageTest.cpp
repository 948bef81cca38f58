#include "StripChart.h"

#include <gtest/gtest.h>

TEST(ReservingGraphData, ReservesInStepsOfAMillionPoints)
{
    TReservingGraphData data;
    EXPECT_EQ(data.capacity(), 0);
    data.addPoint(0, 1);
    EXPECT_EQ(data.capacity(), 1000000);
    for (int i = 1; i < 1000000; ++i)
        data.addPoint(i, i);
    EXPECT_EQ(data.capacity(), 1000000);
    data.addPoint(1000000, 0);
    EXPECT_EQ(data.capacity(), 2000000);
    EXPECT_EQ(data.size(), 1000001);
}

TEST(ReservingGraphData, KeepsPointsInKeyOrder)
{
    TReservingGraphData data;
    data.addPoint(1, 10);
    data.addPoint(3, 30);
    data.addPoint(2, 20); // the clock was set back
    data.addPoint(0.5, 5);
    ASSERT_EQ(data.size(), 4);
    double last = -1;
    for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
        EXPECT_GT(it->key, last);
        EXPECT_DOUBLE_EQ(it->value, it->key * 10);
        last = it->key;
    }
}
