// Point storage of a series, its min/max pyramid, the reduction of points to pixel columns and the statistics
// of a range.
#include "chart/ChartStatistics.h"
#include "chart/ColumnReducer.h"
#include "chart/ColumnBorders.h"
#include "chart/StripChart.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <tuple>

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
void expectPyramidMatchesPoints(const TReservingGraphData& data);
}

// Chunks of a log: mostly in order, some going back in time, values and a key not a number.
TEST(ReservingGraphData, TakesPointsInBulkAsOneByOne)
{
    std::vector<QCPGraphData> points;
    for (int i = 0; i < 30000; ++i)
        points.emplace_back(i % 5003 == 5002 ? i - 2500.5 : i, i % 4001 == 4000 ? NAN : std::sin(i * 0.01) * 100);
    points[777].key = NAN;
    TReservingGraphData one, bulk;
    for (const QCPGraphData& p : points)
        if (std::isfinite(p.key))
            one.addPoint(p.key, p.value);
    for (size_t first = 0; first < points.size(); first += 997)
        bulk.addPoints(points.data() + first, qsizetype(std::min<size_t>(997, points.size() - first)));
    ASSERT_EQ(bulk.size(), one.size());
    for (int i = 0; i < one.size(); ++i) {
        const QCPGraphData &a = *(one.constBegin() + i), &b = *(bulk.constBegin() + i);
        ASSERT_EQ(a.key, b.key) << i;
        ASSERT_TRUE(a.value == b.value || (std::isnan(a.value) && std::isnan(b.value))) << i;
    }
    expectPyramidMatchesPoints(bulk);
    EXPECT_EQ(bulk.capacity(), TReservingGraphData::GrowthStep);
}

namespace {
// Every complete bucket of every level holds its first key and the leftmost lowest and highest of its
// points (nothing usable where one is not finite), and no level misses one.
void expectPyramidMatchesPoints(const TReservingGraphData& data)
{
    using TSummary = std::array<double, 5>; // first key, lowest and its key, highest and its key
    const auto byValue = [](const QCPGraphData& a, const QCPGraphData& b) { return a.value < b.value; };
    const TMinMaxPyramid& pyramid = data.pyramid();
    ASSERT_EQ(pyramid.count(), data.size());
    for (int level = 0, shift = TMinMaxPyramid::BucketShift; level < pyramid.levelCount() || data.size() >> shift;
         ++level, ++shift) {
        ASSERT_EQ(pyramid.bucketCount(level), data.size() >> shift) << "level " << level;
        for (qsizetype j = 0; j < pyramid.bucketCount(level); ++j) {
            const auto first = data.constBegin() + (j << shift), end = first + (qsizetype(1) << shift);
            const auto lo = std::min_element(first, end, byValue), hi = std::max_element(first, end, byValue);
            const bool gap = std::any_of(first, end, [](const QCPGraphData& p) { return !std::isfinite(p.value); });
            const TPyramidBucket& b = pyramid.bucket(level, j);
            const TValueRange& r = b.range;
            ASSERT_EQ((r.usable() ? TSummary{b.firstKey, r.min, r.minKey, r.max, r.maxKey} : TSummary{b.firstKey}),
                      (gap ? TSummary{first->key} : TSummary{first->key, lo->value, lo->key, hi->value, hi->key}))
                << "level " << level << " bucket " << j;
        }
    }
}

// Per pixel column and run of finite points between gaps: column, first and last point, lowest and highest
// value; a gap is a run in column -inf. A line drawing needs exactly this.
using TRun = std::array<double, 7>;
std::vector<TRun> columnRuns(const QVector<QCPGraphData>& points, const TKeyToPixel& map)
{
    std::vector<TRun> runs;
    for (const QCPGraphData& p : points) {
        const bool gap = !std::isfinite(p.value);
        const double column = gap ? -INFINITY : double(map.column(p.key));
        if (runs.empty() || runs.back()[0] != column)
            runs.push_back(gap ? TRun{column} : TRun{column, p.key, p.value, 0, 0, p.value, p.value});
        TRun& r = runs.back();
        if (!gap)
            r = {column, r[1], r[2], p.key, p.value, std::min(r[5], p.value), std::max(r[6], p.value)};
    }
    return runs;
}
// Points as text, so that NaN values compare equal.
std::vector<std::string> pointTexts(const QVector<QCPGraphData>& points)
{
    std::vector<std::string> texts;
    for (const QCPGraphData& p : points)
        texts.push_back(QString::asprintf("%a %a", p.key, p.value).toStdString());
    return texts;
}
} // namespace

// Against the points themselves: a random walk with gaps, points bunched and spread, late points.
TEST(MinMaxPyramid, BucketsAndColumnsHoldWhatTheirPointsHoldThroughAppendsInsertsAndGaps)
{
    TReservingGraphData data;
    std::minstd_rand random(2);
    double key = 0, value = 100;
    for (int i = 0; i < 200000; ++i) {
        key += (i / 5000) % 3 == 1 ? 1.0 : 0.01;
        value += (int(random() % 2001) - 1000) * 0.002;
        data.addPoint(i % 6007 == 6006 ? key - 0.5 : key, i % 7919 == 7918 ? NAN : value);
    }
    expectPyramidMatchesPoints(data);
    // The same keys with other values and gaps elsewhere; and keys a little later from the middle on.
    TReservingGraphData sameKeys, otherKeys;
    for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
        const qsizetype i = it - data.constBegin();
        sameKeys.addPoint(it->key, i % 5003 == 17 ? NAN : std::cos(double(i) * 0.003) * 50 + double(i % 7));
        otherKeys.addPoint(i > data.size() / 2 ? it->key + 0.37 : it->key, it->value);
    }

    // Lower and upper key, columns, shift: all points over few to many columns; windows cutting buckets.
    const double cases[][4] = {{0, key, 900, 0},
                               {0, key, 7, 0},
                               {0, key, 4000, 0.5},
                               {-10, key + 10, 33, 0},
                               {key * 0.3, key * 0.31, 300, 0},
                               {key * 0.5, key * 0.9, 650, 0.5}};
    int refused = 0;
    for (const auto& [lower, upper, columns, shift] : cases) {
        const TKeyToPixel map{lower, upper - lower, columns, 41, shift};
        const auto begin = data.findBegin(lower), end = data.findEnd(upper);
        QVector<QCPGraphData> reduced;
        TColumnReducer(&*data.constBegin(), data.pyramid(), map, reduced)
            .reduce(begin - data.constBegin(), end - data.constBegin(), qsizetype(columns));
        EXPECT_EQ(columnRuns(reduced, map), columnRuns(QVector<QCPGraphData>(begin, end), map)) << columns;
        const auto gaps = std::count_if(begin, end, [](const QCPGraphData& p) { return std::isnan(p.value); });
        EXPECT_LE(reduced.size(), 4 * (qsizetype(columns) + 2) + 5 * gaps) << columns; // four a column, more at gaps
        EXPECT_TRUE(std::is_sorted(reduced.begin(), reduced.end(), qcpLessThanSortKey<QCPGraphData>)) << columns;

        // The column borders found once serve every series with the same keys, and give what each series'
        // own reduction gives; a series with other keys refuses them.
        TColumnBorders borders;
        borders.find(&*data.constBegin(), begin - data.constBegin(), end - data.constBegin(), map);
        EXPECT_TRUE(borders.foundFor(map, begin - data.constBegin(), end - data.constBegin()));
        for (const TReservingGraphData* series : {&data, &sameKeys}) {
            QVector<QCPGraphData> own, shared{QCPGraphData(-1e9, 0)};
            const auto from = begin - data.constBegin(), to = end - data.constBegin();
            TColumnReducer(&*series->constBegin(), series->pyramid(), map, own).reduce(from, to, qsizetype(columns));
            ASSERT_TRUE(
                TColumnReducer(&*series->constBegin(), series->pyramid(), map, shared).reduceSpans(borders.spans()));
            shared.removeFirst();
            EXPECT_EQ(pointTexts(shared), pointTexts(own)) << columns;
        }
        // Other keys may still fall into the same columns; where they do not, nothing is taken from the borders.
        QVector<QCPGraphData> own, other;
        TColumnReducer(&*otherKeys.constBegin(), otherKeys.pyramid(), map, own)
            .reduce(begin - data.constBegin(), end - data.constBegin(), qsizetype(columns));
        if (TColumnReducer(&*otherKeys.constBegin(), otherKeys.pyramid(), map, other).reduceSpans(borders.spans())) {
            EXPECT_EQ(pointTexts(other), pointTexts(own)) << columns;
        } else {
            EXPECT_TRUE(other.isEmpty());
            ++refused;
        }
    }
    EXPECT_GE(refused, 3);

    // Extents of index ranges, across gaps, from and to any place.
    const std::pair<int, int> ranges[] = {{0, data.size()}, {17, 4099},   {65, 129},
                                          {5000, 5001},     {7000, 7000}, {1, 199999}};
    for (const auto& [from, to] : ranges) {
        double low = INFINITY, high = -INFINITY, pyramidLow, pyramidHigh;
        for (auto it = data.constBegin() + from; it != data.constBegin() + to; ++it)
            if (std::isfinite(it->value))
                low = std::min(low, it->value), high = std::max(high, it->value);
        EXPECT_EQ(data.valueExtent(from, to, pyramidLow, pyramidHigh), from < to) << from;
        if (from < to) {
            EXPECT_EQ(std::make_pair(pyramidLow, pyramidHigh), std::make_pair(low, high)) << from;
        }
    }

    data.addPoint(-1, 5); // before the first point: every bucket changes
    data.addPoint(data.constBegin()->key + 0.001, INFINITY);
    expectPyramidMatchesPoints(data);
    data.QCPGraphDataContainer::add(QCPGraphData(35.5, 1e6)); // behind the container's back
    expectPyramidMatchesPoints(data);
}

TEST(MinMaxPyramid, IsReservedWithThePointsAndAddsAtMostATenthToTheirStorage)
{
    TReservingGraphData data;
    data.addPoint(0, 0);
    const size_t reserved = data.pyramidBytes();
    EXPECT_LE(reserved * 10, data.pointBytes());
    for (int i = 1; i < TReservingGraphData::GrowthStep; ++i)
        data.addPoint(i, i % 17);
    EXPECT_EQ(data.pyramidBytes(), reserved); // no allocation below the reserved size
    data.addPoint(TReservingGraphData::GrowthStep, 0);
    EXPECT_GT(data.pyramidBytes(), reserved);
    EXPECT_LE(data.pyramidBytes() * 10, data.pointBytes());
}

// The statistics of a range against a direct two-pass computation in long double, on values far from zero with a
// small spread (where a sum of squares loses every digit), with gaps and infinities that are no readings.
TEST(RangeStatistics, MatchTwoPassComputationAndCountNoGaps)
{
    std::minstd_rand random(7);
    std::vector<QCPGraphData> points;
    for (int t = 0; t < 5000; ++t) {
        double value = 1e9 + (int(random() % 20001) - 10000) * 1e-4;
        if (t % 97 == 0)
            value = std::numeric_limits<double>::quiet_NaN(); // a gap
        if (t == 1234)
            value = std::numeric_limits<double>::infinity();
        points.emplace_back(t * 0.5, value);
    }
    const auto direct = [&](double from, double to) {
        std::vector<long double> values;
        for (const QCPGraphData& p : points)
            if (p.key >= from && p.key <= to && std::isfinite(p.value))
                values.push_back(p.value);
        long double sum = 0, squares = 0;
        for (long double v : values)
            sum += v;
        const long double mean = sum / values.size();
        for (long double v : values)
            squares += (v - mean) * (v - mean);
        return std::tuple(values, double(mean), double(std::sqrt(squares / (values.size() - 1))));
    };
    for (const auto& [from, to] : {std::pair(0.0, 2499.5), std::pair(100.0, 700.25), std::pair(-5.0, 48.5)}) {
        SCOPED_TRACE(from);
        const TSeriesStatistics stats = SeriesStatistics(points, from, to);
        const auto [values, mean, deviation] = direct(from, to);
        ASSERT_EQ(stats.readings, values.size());
        EXPECT_EQ(stats.minimum, double(*std::min_element(values.begin(), values.end())));
        EXPECT_EQ(stats.maximum, double(*std::max_element(values.begin(), values.end())));
        EXPECT_EQ(stats.first, double(values.front()));
        EXPECT_EQ(stats.last, double(values.back()));
        EXPECT_NEAR(stats.mean, mean, 1e9 * 1e-14);
        EXPECT_NEAR(stats.deviation, deviation, deviation * 1e-6);
    }
    // The range's ends are inside it; a range without readings has none, one reading no deviation.
    EXPECT_EQ(SeriesStatistics(points, 1.0, 1.0).readings, 1u);
    EXPECT_TRUE(std::isnan(SeriesStatistics(points, 1.0, 1.0).deviation));
    EXPECT_EQ(SeriesStatistics(points, 1.0, 1.0).mean, points[2].value);
    const TSeriesStatistics none = SeriesStatistics(points, 0.1, 0.4);
    EXPECT_EQ(none.readings, 0u);
    EXPECT_TRUE(std::isnan(none.mean) && std::isnan(none.minimum) && std::isnan(none.first));
    EXPECT_EQ(SeriesStatistics({}, 0, 1).readings, 0u);
}

TEST(RangeStatistics, TextIsATabSeparatedTableWithTheRange)
{
    TRangeStatistics stats;
    stats.from = 10;
    stats.to = 3733.5;
    std::vector<QCPGraphData> points{{10, 1.5}, {11, std::numeric_limits<double>::quiet_NaN()}, {12, 2.5}, {13, 0.1}};
    stats.series.push_back(SeriesStatistics(points, stats.from, stats.to));
    stats.series.back().title = QStringLiteral("Conc\t1");
    stats.series.push_back(SeriesStatistics({}, stats.from, stats.to));
    stats.series.back().title = QStringLiteral("Humidity");
    stats.series.back().shown = false;
    const QString text = StatisticsText(stats, [](double key) { return QStringLiteral("t%1").arg(key); });
    EXPECT_EQ(text.toStdString(), "Start\tt10\n"
                                  "End\tt3733.5\n"
                                  "Duration\t3723.5 s (1:02:03.500)\n"
                                  "Quantity\tShown\tReadings\tMinimum\tMaximum\tMean\tStandard deviation\tFirst\tLast\n"
                                  "Conc 1\tyes\t3\t0.1\t2.5\t1.3666666666666667\t1.2055427546683415\t1.5\t0.1\n"
                                  "Humidity\tno\t0\t\t\t\t\t\t\n");
}
