#include "chart/ChartSeriesData.h"

#include <algorithm>
#include <limits>

namespace {
bool keyBefore(const QCPGraphData& a, const QCPGraphData& b)
{
    return a.key < b.key;
}
} // namespace

void TReservingGraphData::addPoint(double key, double value)
{
    if (mData.size() == mData.capacity())
        reserve(mData.capacity() + GrowthStep);
    catchUp();
    if (isEmpty() || !(key < (constEnd() - 1)->key)) {
        mData.append(QCPGraphData(key, value));
        FPyramid.append(key, value);
        return;
    }
    // The clock was set back: insert before the first point with a key not below, and take the values
    // of the buckets from there again.
    const auto at = std::lower_bound(constBegin(), constEnd(), key,
                                     [](const QCPGraphData& point, double k) { return point.key < k; });
    const qsizetype index = at - constBegin();
    mData.insert(mPreallocSize + index, QCPGraphData(key, value));
    ++FVersion;
    rebuildPyramidFrom(index);
}

void TReservingGraphData::addPoints(const QCPGraphData* points, qsizetype count)
{
    if (count <= 0)
        return;
    catchUp();
    const qsizetype taken =
        std::count_if(points, points + count, [](const QCPGraphData& p) { return std::isfinite(p.key); });
    if (mData.size() + taken > mData.capacity())
        reserve((mData.size() + taken + GrowthStep - 1) / GrowthStep * GrowthStep);
    const qsizetype before = size();
    for (const QCPGraphData* p = points; p != points + count; ++p)
        if (std::isfinite(p->key))
            mData.append(*p);
    if (size() == before)
        return;
    const auto added = begin() + before;
    if (!std::is_sorted(added, end(), keyBefore))
        std::stable_sort(added, end(), keyBefore);
    qsizetype from = before;
    if (before > 0 && added->key < (added - 1)->key) {
        from = std::upper_bound(constBegin(), constBegin() + before, *added, keyBefore) - constBegin();
        std::inplace_merge(begin() + from, added, end(), keyBefore);
        ++FVersion;
    }
    rebuildPyramidFrom(from);
}

void TReservingGraphData::reserve(qsizetype points)
{
    if (points > mData.capacity())
        mData.reserve(points);
    FPyramid.reserve(mData.capacity());
}

void TReservingGraphData::clear()
{
    QCPGraphDataContainer::clear();
    FPyramid.clear();
    ++FVersion;
}

const TMinMaxPyramid& TReservingGraphData::pyramid() const
{
    catchUp();
    return FPyramid;
}

void TReservingGraphData::catchUp() const
{
    if (FPyramid.count() != size()) {
        ++FVersion;
        rebuildPyramidFrom(0);
    }
}

bool TReservingGraphData::valueExtent(qsizetype from, qsizetype to, double& low, double& high) const
{
    low = std::numeric_limits<double>::infinity();
    high = -low;
    from = std::max<qsizetype>(from, 0);
    to = std::min<qsizetype>(to, size());
    if (from < to)
        pyramid().extent(&*constBegin(), from, to, low, high);
    return low <= high;
}

void TReservingGraphData::rebuildPyramidFrom(qsizetype index) const
{
    FPyramid.rebuildFrom(index, isEmpty() ? nullptr : &*constBegin(), size());
}
