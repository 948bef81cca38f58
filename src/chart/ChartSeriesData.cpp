#include "chart/ChartSeriesData.h"

#include <algorithm>

void TReservingGraphData::addPoint(double key, double value)
{
    if (mData.size() == mData.capacity()) {
        mData.reserve(mData.capacity() + GrowthStep);
        FPyramid.reserve(mData.capacity());
    }
    if (FPyramid.count() != size())
        rebuildPyramidFrom(0);
    if (isEmpty() || !(key < (constEnd() - 1)->key)) {
        mData.append(QCPGraphData(key, value));
        FPyramid.append(mData.constLast());
        return;
    }
    // The clock was set back: insert before the first point with a key not below, and take the values
    // of the buckets from there again.
    const auto at = std::lower_bound(constBegin(), constEnd(), key,
                                     [](const QCPGraphData& point, double k) { return point.key < k; });
    const qsizetype index = at - constBegin();
    mData.insert(mPreallocSize + index, QCPGraphData(key, value));
    rebuildPyramidFrom(index);
}

void TReservingGraphData::clear()
{
    QCPGraphDataContainer::clear();
    FPyramid.clear();
}

const TMinMaxPyramid& TReservingGraphData::pyramid() const
{
    if (FPyramid.count() != size())
        rebuildPyramidFrom(0);
    return FPyramid;
}

void TReservingGraphData::rebuildPyramidFrom(qsizetype index) const
{
    FPyramid.rebuildFrom(index, constBegin(), size());
}
