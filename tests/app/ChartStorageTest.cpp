// Point storage of a series, its min/max pyramid and the reduction of points to pixel columns.
#include "ChartSeriesData.h"
#include "ColumnReducer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

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

namespace {

// The leftmost lowest and highest point of points [from, to); NaN values when one is not finite.
TValueRange rangeOf(const TReservingGraphData& data, qsizetype from, qsizetype to)
{
    TValueRange range{0, INFINITY, 0, -INFINITY};
    for (auto it = data.constBegin() + from; it != data.constBegin() + to; ++it) {
        if (!std::isfinite(it->value))
            return {0, NAN, 0, NAN};
        if (it->value < range.min)
            range.min = it->value, range.minKey = it->key;
        if (it->value > range.max)
            range.max = it->value, range.maxKey = it->key;
    }
    return range;
}

// Every complete bucket of every level holds the range of its points, and no level misses one.
void expectPyramidMatchesPoints(const TReservingGraphData& data)
{
    const TMinMaxPyramid& pyramid = data.pyramid();
    ASSERT_EQ(pyramid.count(), data.size());
    for (int level = 0; level < pyramid.levelCount() || (data.size() >> (TMinMaxPyramid::BucketShift + level)) > 0;
         ++level) {
        const int shift = TMinMaxPyramid::BucketShift + level;
        ASSERT_EQ(pyramid.bucketCount(level), data.size() >> shift) << "level " << level;
        for (qsizetype j = 0; j < pyramid.bucketCount(level); ++j) {
            const TValueRange expected = rangeOf(data, j << shift, (j + 1) << shift);
            const TValueRange got = pyramid.bucket(level, j).range;
            ASSERT_EQ(pyramid.bucket(level, j).firstKey, (data.constBegin() + (j << shift))->key);
            ASSERT_EQ(got.usable(), expected.usable()) << "level " << level << " bucket " << j;
            if (expected.usable()) {
                ASSERT_EQ(got.min, expected.min) << "level " << level << " bucket " << j;
                ASSERT_EQ(got.max, expected.max) << "level " << level << " bucket " << j;
                ASSERT_EQ(got.minKey, expected.minKey) << "level " << level << " bucket " << j;
                ASSERT_EQ(got.maxKey, expected.maxKey) << "level " << level << " bucket " << j;
            }
        }
    }
}

// Per pixel column, the runs of finite points between gaps: first and last point, lowest and highest
// value. Gaps themselves appear as a run with no points. A line drawing needs exactly this.
struct TColumnRun {
    qint64 column;
    double firstKey, firstValue, lastKey, lastValue, min, max;
    bool operator==(const TColumnRun&) const = default;
};
std::vector<TColumnRun> columnRuns(const QVector<QCPGraphData>& points, const TKeyToPixel& map)
{
    std::vector<TColumnRun> runs;
    bool open = false;
    for (const QCPGraphData& p : points) {
        if (!std::isfinite(p.value)) {
            if (open || runs.empty() || runs.back().column != INT64_MIN)
                runs.push_back({INT64_MIN, 0, 0, 0, 0, 0, 0});
            open = false;
            continue;
        }
        const qint64 column = map.column(p.key);
        if (!open || runs.back().column != column)
            runs.push_back({column, p.key, p.value, p.key, p.value, p.value, p.value});
        TColumnRun& run = runs.back();
        run.lastKey = p.key;
        run.lastValue = p.value;
        run.min = std::min(run.min, p.value);
        run.max = std::max(run.max, p.value);
        open = true;
    }
    return runs;
}

// A random walk with gaps, points bunched and spread in x as the graphics interval changes, and a few
// points that come late (the clock was set back).
void fillWalk(TReservingGraphData& data, int points, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> step(0, 1);
    double key = 0, value = 100;
    for (int i = 0; i < points; ++i) {
        key += (i / 5000) % 3 == 1 ? 1.0 : 0.01;
        value += step(random);
        if (i % 7919 == 7918)
            data.addPoint(key, NAN);
        else if (i % 6007 == 6006)
            data.addPoint(key - 0.5, value);
        else
            data.addPoint(key, value);
    }
}

} // namespace

TEST(MinMaxPyramid, BucketsHoldTheRangeOfTheirPointsThroughAppendsInsertsAndGaps)
{
    TReservingGraphData data;
    expectPyramidMatchesPoints(data);
    fillWalk(data, 70000, 1);
    expectPyramidMatchesPoints(data);
    EXPECT_GE(data.pyramid().levelCount(), 10);

    data.addPoint(-1, 5); // before the first point: every bucket changes
    data.addPoint(data.constBegin()->key + 0.001, INFINITY);
    expectPyramidMatchesPoints(data);

    // Points changed behind the container's back are taken again before use.
    data.QCPGraphDataContainer::add(QCPGraphData(35.5, 1e6));
    expectPyramidMatchesPoints(data);
    data.clear();
    EXPECT_EQ(data.pyramid().count(), 0);
    data.addPoint(1, 2);
    expectPyramidMatchesPoints(data);
}

TEST(MinMaxPyramid, IsReservedWithThePointsAndAddsAtMostATenthToTheirStorage)
{
    TReservingGraphData data;
    data.addPoint(0, 0);
    const size_t reserved = data.pyramidBytes();
    EXPECT_GT(reserved, 0u);
    EXPECT_LE(reserved * 10, data.pointBytes());
    for (int i = 1; i < TReservingGraphData::GrowthStep; ++i)
        data.addPoint(i, i % 17);
    EXPECT_EQ(data.pyramidBytes(), reserved); // no allocation below the reserved size
    data.addPoint(TReservingGraphData::GrowthStep, 0);
    EXPECT_GT(data.pyramidBytes(), reserved);
    EXPECT_LE(data.pyramidBytes() * 10, data.pointBytes());
}

TEST(ColumnReducer, KeepsFirstLastLowestAndHighestOfEveryRunPerColumn)
{
    TReservingGraphData data;
    fillWalk(data, 200000, 2);
    const double lastKey = (data.constEnd() - 1)->key;
    struct Case {
        double lower, upper;
        int columns;
        double shift;
    };
    // Whole runs at widths from a few columns (high pyramid levels) to more columns than buckets, and
    // windows into the run whose borders fall inside buckets.
    const Case cases[] = {{0, lastKey, 900, 0},           {0, lastKey, 7, 0},
                          {0, lastKey, 4000, 0.5},        {lastKey * 0.3, lastKey * 0.31, 300, 0},
                          {lastKey * 0.5, lastKey * 0.9, 650, 0.5}, {-10, lastKey + 10, 33, 0}};
    for (const Case& c : cases) {
        const TKeyToPixel map{c.lower, c.upper - c.lower, double(c.columns), 41, c.shift};
        const auto begin = data.findBegin(c.lower), end = data.findEnd(c.upper);
        const qsizetype from = begin - data.constBegin(), to = end - data.constBegin();
        QVector<QCPGraphData> reduced;
        TColumnReducer(data.constBegin(), data.pyramid(), map, reduced).reduce(from, to, c.columns);
        QVector<QCPGraphData> all(begin, end);
        EXPECT_EQ(columnRuns(reduced, map), columnRuns(all, map)) << c.lower << ".." << c.upper << " " << c.columns;
        const auto gaps = std::count_if(begin, end, [](const QCPGraphData& p) { return std::isnan(p.value); });
        EXPECT_LE(reduced.size(), 4 * (c.columns + 2) + 5 * gaps) << c.columns; // four a column, more at gaps
    }
}
