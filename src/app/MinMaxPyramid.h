#pragma once
#include <QtGlobal>
#include <cmath>
#include <cstddef>
#include <vector>

// The lowest and highest value of a run of points. A run that holds a value that is not finite (a gap in
// the line) has both set to NaN: it cannot stand for its points in a drawing.
struct TValueRange {
    double min;
    double max;

    bool usable() const { return !std::isnan(min); }
    static TValueRange of(double value)
    {
        return std::isfinite(value) ? TValueRange{value, value} : TValueRange{NAN, NAN};
    }
    static TValueRange join(TValueRange a, TValueRange b)
    {
        if (!a.usable() || !b.usable())
            return {NAN, NAN};
        return {a.min < b.min ? a.min : b.min, a.max > b.max ? a.max : b.max};
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
    // Takes the value of the point that follows the last one.
    void append(double value);
    // Forgets every point from `index` on and takes values[index..count) again: after a point was
    // inserted or changed at `index`.
    template <typename Value> void rebuildFrom(qsizetype index, qsizetype count, Value valueAt)
    {
        truncate(index);
        for (qsizetype i = FCount; i < count; ++i)
            append(valueAt(i));
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
    TValueRange FOpen{NAN, NAN}; // the points of the incomplete level-0 bucket
    qsizetype FCount = 0;
};
