#pragma once
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

class QCPGraphData;

// The lowest and the highest point of a run of points (the leftmost where several share the value). A
// run that holds a value that is not finite (a gap in the line) has NaN values: it cannot stand for its
// points in a drawing.
struct TValueRange {
    double minKey, min;
    double maxKey, max;

    bool usable() const { return !std::isnan(min); }
    static TValueRange of(double key, double value)
    {
        if (!std::isfinite(value))
            return {key, NAN, key, NAN};
        return {key, value, key, value};
    }
    // Takes in one point that follows those of this range (a NaN value leaves it as it is). It selects rather
    // than branches: new extremes come often in a short run.
    void take(double key, double value)
    {
        const bool lower = value < min;
        const bool higher = value > max;
        minKey = lower ? key : minKey;
        min = lower ? value : min;
        maxKey = higher ? key : maxKey;
        max = higher ? value : max;
    }
    // Takes in the points of `b`, which follow those of this range.
    void join(const TValueRange& b)
    {
        if (!b.usable())
            min = max = NAN;
        if (!usable())
            return;
        if (b.min < min) {
            minKey = b.minKey;
            min = b.min;
        }
        if (b.max > max) {
            maxKey = b.maxKey;
            max = b.max;
        }
    }
};

// A bucket of the pyramid: the key of its first point and the range of its points.
struct TPyramidBucket {
    double firstKey;
    TValueRange range;
};

// Levels of buckets over a series of points taken in index order. Level 0 holds one bucket per
// BucketPoints points, each level above one per two buckets of the level below. Only complete buckets are
// stored, so appending costs amortised constant time; the values of a bucket's first and last point come
// from the points themselves.
class TMinMaxPyramid {
public:
    static constexpr int BucketShift = 6;
    static constexpr qsizetype BucketPoints = qsizetype(1) << BucketShift;

    // Makes room for `points` points, so that appending below that count does not allocate.
    void reserve(qsizetype points);
    // Takes the point that follows the last one.
    void append(double key, double value)
    {
        if ((FCount & (BucketPoints - 1)) == 0)
            FOpen = {key, TValueRange::of(key, value)};
        else
            FOpen.range.join(TValueRange::of(key, value));
        ++FCount;
        if ((FCount & (BucketPoints - 1)) == 0)
            push(0, FOpen);
    }
    // Forgets every point from `index` on and takes points[index..count) again: after a point was
    // inserted or changed at `index`, or after points were appended by other means than append.
    void rebuildFrom(qsizetype index, const QCPGraphData* points, qsizetype count);
    void clear() { truncate(0); }
    // Widens [low, high] by the finite values of points [from, to) (within the count taken); `points` is the
    // first point. Whole buckets stand for their points; a bucket that holds a gap is looked into.
    void extent(const QCPGraphData* points, qsizetype from, qsizetype to, double& low, double& high) const
    {
        extent(points, from, std::min(to, FCount), levelCount() - 1, low, high);
    }

    qsizetype count() const { return FCount; }
    int levelCount() const { return static_cast<int>(FLevels.size()); }
    // Complete buckets of a level; bucket j of level k covers points [j << (BucketShift + k), ...).
    qsizetype bucketCount(int level) const
    {
        return level < levelCount() ? static_cast<qsizetype>(FLevels[static_cast<size_t>(level)].size()) : 0;
    }
    const TPyramidBucket& bucket(int level, qsizetype index) const
    {
        return FLevels[static_cast<size_t>(level)][static_cast<size_t>(index)];
    }
    // Bytes held, reserved room included.
    size_t bytes() const;

private:
    void extent(const QCPGraphData* points, qsizetype from, qsizetype to, int level, double& low, double& high) const;
    void truncate(qsizetype index);
    void push(size_t level, TPyramidBucket bucket);

    std::vector<std::vector<TPyramidBucket>> FLevels;
    TPyramidBucket FOpen{}; // the points of the incomplete level-0 bucket
    qsizetype FCount = 0;
};
