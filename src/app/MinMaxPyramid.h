#pragma once
#include <QtGlobal>
#include <cmath>
#include <cstddef>
#include <qcustomplot.h>
#include <vector>

// The lowest and the highest point of a run of points (the leftmost where several share the value). A
// run that holds a value that is not finite (a gap in the line) has NaN values: it cannot stand for its
// points in a drawing.
struct TValueRange {
    double minKey, min;
    double maxKey, max;

    bool usable() const { return !std::isnan(min); }
    static TValueRange of(const QCPGraphData& point)
    {
        if (!std::isfinite(point.value))
            return {point.key, NAN, point.key, NAN};
        return {point.key, point.value, point.key, point.value};
    }
    static TValueRange join(const TValueRange& a, const TValueRange& b)
    {
        if (!a.usable() || !b.usable())
            return {a.minKey, NAN, a.maxKey, NAN};
        TValueRange r = a;
        if (b.min < a.min) {
            r.minKey = b.minKey;
            r.min = b.min;
        }
        if (b.max > a.max) {
            r.maxKey = b.maxKey;
            r.max = b.max;
        }
        return r;
    }
};

// Levels of value ranges over a series of points taken in index order. Level 0 holds one range per
// BucketPoints points, each level above one per two buckets of the level below. Only complete buckets are
// stored, so appending costs amortised constant time; first and last values of a bucket come from the
// points themselves.
class TMinMaxPyramid {
public:
    static constexpr int BucketShift = 6;
    static constexpr qsizetype BucketPoints = qsizetype(1) << BucketShift;

    // Makes room for `points` points, so that appending below that count does not allocate.
    void reserve(qsizetype points);
    // Takes the point that follows the last one.
    void append(const QCPGraphData& point);
    // Forgets every point from `index` on and takes points[index..count) again: after a point was
    // inserted or changed at `index`.
    void rebuildFrom(qsizetype index, QCPGraphDataContainer::const_iterator points, qsizetype count)
    {
        truncate(index);
        for (qsizetype i = FCount; i < count; ++i)
            append(*(points + i));
    }
    void clear() { truncate(0); }

    qsizetype count() const { return FCount; }
    int levelCount() const { return static_cast<int>(FLevels.size()); }
    // Complete buckets of a level; bucket j of level k covers points [j << (BucketShift + k), ...).
    qsizetype bucketCount(int level) const
    {
        return level < levelCount() ? static_cast<qsizetype>(FLevels[static_cast<size_t>(level)].size()) : 0;
    }
    TValueRange bucket(int level, qsizetype index) const
    {
        return FLevels[static_cast<size_t>(level)][static_cast<size_t>(index)];
    }
    // Bytes held, reserved room included.
    size_t bytes() const;

private:
    void truncate(qsizetype index);
    void push(size_t level, TValueRange range);

    std::vector<std::vector<TValueRange>> FLevels;
    TValueRange FOpen{}; // the points of the incomplete level-0 bucket
    qsizetype FCount = 0;
};
