#include "chart/MinMaxPyramid.h"

#include <algorithm>
#include <qcustomplot.h>

void TMinMaxPyramid::reserve(qsizetype points)
{
    size_t level = 0;
    for (qsizetype buckets = points >> BucketShift; buckets > 0; buckets >>= 1, ++level) {
        if (FLevels.size() <= level)
            FLevels.emplace_back();
        FLevels[level].reserve(static_cast<size_t>(buckets));
    }
}

void TMinMaxPyramid::rebuildFrom(qsizetype index, const QCPGraphData* points, qsizetype count)
{
    truncate(index);
    for (qsizetype i = FCount; i < count; ++i)
        append(points[i].key, points[i].value);
}

void TMinMaxPyramid::extent(const QCPGraphData* points, qsizetype from, qsizetype to, int level, double& low,
                            double& high) const
{
    if (from >= to)
        return;
    if (level < 0) {
        for (const QCPGraphData* p = points + from; p != points + to; ++p) {
            if (std::isfinite(p->value)) {
                low = std::min(low, p->value);
                high = std::max(high, p->value);
            }
        }
        return;
    }
    const int shift = BucketShift + level;
    const qsizetype complete = bucketCount(level);
    for (qsizetype b = from >> shift; b <= (to - 1) >> shift; ++b) {
        const qsizetype first = std::max(b << shift, from), end = std::min((b + 1) << shift, to);
        if (b >= complete) { // the points after the last complete bucket of this level
            extent(points, first, to, level - 1, low, high);
            return;
        }
        const TValueRange& range = bucket(level, b).range;
        if (first == b << shift && end == (b + 1) << shift && range.usable()) {
            low = std::min(low, range.min);
            high = std::max(high, range.max);
        } else {
            extent(points, first, end, level - 1, low, high);
        }
    }
}

void TMinMaxPyramid::push(size_t level, TPyramidBucket bucket)
{
    // Each completed pair of buckets completes one bucket of the level above.
    for (;; ++level) {
        if (FLevels.size() <= level)
            FLevels.emplace_back();
        std::vector<TPyramidBucket>& buckets = FLevels[level];
        buckets.push_back(bucket);
        if (buckets.size() % 2 != 0)
            return;
        bucket = buckets[buckets.size() - 2];
        bucket.range.join(buckets.back().range);
    }
}

void TMinMaxPyramid::truncate(qsizetype index)
{
    index = std::clamp<qsizetype>(index, 0, FCount);
    qsizetype keep = index >> BucketShift;
    for (std::vector<TPyramidBucket>& buckets : FLevels) {
        if (static_cast<qsizetype>(buckets.size()) > keep)
            buckets.resize(static_cast<size_t>(keep));
        keep >>= 1;
    }
    FCount = (index >> BucketShift) << BucketShift;
}

size_t TMinMaxPyramid::bytes() const
{
    size_t total = FLevels.capacity() * sizeof(std::vector<TPyramidBucket>);
    for (const std::vector<TPyramidBucket>& buckets : FLevels)
        total += buckets.capacity() * sizeof(TPyramidBucket);
    return total;
}
