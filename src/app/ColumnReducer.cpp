#include "ColumnReducer.h"

#include <algorithm>
#include <cmath>
#include <limits>

qint64 TKeyToPixel::column(double key) const
{
    // Far outside the chart only the side matters; the bound keeps the arithmetic in range.
    return static_cast<qint64>(std::floor(std::clamp(pixel(key) + shift, -1e15, 1e15)));
}

TColumnReducer::TColumnReducer(QCPGraphDataContainer::const_iterator points, const TMinMaxPyramid& pyramid,
                               const TKeyToPixel& map, QVector<QCPGraphData>& out)
    : FPoints(points), FPyramid(pyramid), FMap(map), FOut(out)
{
}

void TColumnReducer::reduce(qsizetype from, qsizetype to, qsizetype columns)
{
    FFrom = from;
    FTo = std::min(to, FPyramid.count());
    if (FFrom >= FTo)
        return;
    // The highest level whose buckets are, on average, no wider than a column.
    int level = -1;
    while (level + 1 < FPyramid.levelCount()
           && ((FTo - FFrom) >> (TMinMaxPyramid::BucketShift + level + 1)) >= columns)
        ++level;
    if (level < 0) {
        addPoints(FFrom, FTo);
    } else {
        const int shift = TMinMaxPyramid::BucketShift + level;
        for (qsizetype bucket = FFrom >> shift; bucket <= (FTo - 1) >> shift; ++bucket)
            visit(level, bucket);
    }
    flush();
}

void TColumnReducer::visit(int level, qsizetype bucket)
{
    const int shift = TMinMaxPyramid::BucketShift + level;
    const qsizetype first = bucket << shift;
    const qsizetype end = first + (qsizetype(1) << shift);
    if (end <= FFrom || first >= FTo)
        return;
    if (first >= FFrom && end <= FTo && bucket < FPyramid.bucketCount(level)) {
        const TValueRange range = FPyramid.bucket(level, bucket);
        const QCPGraphData& a = *(FPoints + first);
        const QCPGraphData& b = *(FPoints + (end - 1));
        const qint64 column = FMap.column(a.key);
        if (range.usable() && column == FMap.column(b.key)) {
            addRun(a, b, range, column);
            return;
        }
    }
    // Across a column border or over a gap: look closer.
    if (level == 0) {
        addPoints(std::max(first, FFrom), std::min(end, FTo));
    } else {
        visit(level - 1, bucket * 2);
        visit(level - 1, bucket * 2 + 1);
    }
}

void TColumnReducer::addPoints(qsizetype from, qsizetype to)
{
    for (auto it = FPoints + from, end = FPoints + to; it != end; ++it) {
        if (std::isfinite(it->value))
            addRun(*it, *it, TValueRange::of(*it), FMap.column(it->key));
        else
            addBreak(it->key);
    }
}

void TColumnReducer::addRun(const QCPGraphData& first, const QCPGraphData& last, TValueRange range,
                            qint64 column)
{
    if (FOpen && column != FColumn)
        flush();
    if (!FOpen) {
        FOpen = true;
        FColumn = column;
        FFirst = first;
        FRange = range;
    } else {
        FRange = TValueRange::join(FRange, range);
    }
    FLast = last;
}

void TColumnReducer::addBreak(double key)
{
    flush();
    if (FOut.isEmpty() || !std::isnan(FOut.constLast().value))
        FOut.append(QCPGraphData(key, std::numeric_limits<double>::quiet_NaN()));
}

void TColumnReducer::flush()
{
    if (!FOpen)
        return;
    FOpen = false;
    // First, the extremes in the order of their keys, last.
    put(FFirst.key, FFirst.value);
    const bool lowFirst = FRange.minKey <= FRange.maxKey;
    put(lowFirst ? FRange.minKey : FRange.maxKey, lowFirst ? FRange.min : FRange.max);
    put(lowFirst ? FRange.maxKey : FRange.minKey, lowFirst ? FRange.max : FRange.min);
    put(FLast.key, FLast.value);
}

void TColumnReducer::put(double key, double value)
{
    if (!FOut.isEmpty() && FOut.constLast().key == key && FOut.constLast().value == value)
        return;
    FOut.append(QCPGraphData(key, value));
}
