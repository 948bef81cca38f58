#include "chart/MinMaxPyramid.h"

#include <algorithm>

void TMinMaxPyramid::reserve(qsizetype points)
{
    size_t level = 0;
    for (qsizetype buckets = points >> BucketShift; buckets > 0; buckets >>= 1, ++level) {
        if (FLevels.size() <= level)
            FLevels.emplace_back();
        FLevels[level].reserve(static_cast<size_t>(buckets));
    }
}

void TMinMaxPyramid::append(const QCPGraphData& point)
{
    if ((FCount & (BucketPoints - 1)) == 0)
        FOpen = {point.key, TValueRange::of(point)};
    else
        FOpen.range.join(TValueRange::of(point));
    ++FCount;
    if ((FCount & (BucketPoints - 1)) == 0)
        push(0, FOpen);
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
