#pragma once
#include "chart/MinMaxPyramid.h"

#include <qcustomplot.h>

// Point storage of one series that grows in steps of GrowthStep points, so that appending does not
// reallocate point by point: the first point reserves a million, the millionth-and-first another million.
// Beside the points it keeps a min/max pyramid over their values for drawing, reserved in step with them.
class TReservingGraphData : public QCPGraphDataContainer {
public:
    static constexpr int GrowthStep = 1000000;
    // Appends (key, value), or inserts it at its sorted place when key is below the last key.
    void addPoint(double key, double value);
    // Appends `count` points at once and brings the pyramid up to date once. Points whose key is not finite
    // are left out; points out of key order are sorted in. Room grows to the next multiple of GrowthStep.
    void addPoints(const QCPGraphData* points, qsizetype count);
    // Makes room for `points` points in all (never less than held or reserved already), for the points and
    // their pyramid: appending below that count does not allocate.
    void reserve(qsizetype points);
    // Removes every point; the reserved room stays.
    void clear();
    qsizetype capacity() const { return mData.capacity(); }

    // The pyramid over the points' values, brought up to date first when the points were changed by
    // other means than addPoint and addPoints.
    const TMinMaxPyramid& pyramid() const;
    // Changes whenever points change other than by appending: an insertion, a clear, a change made behind
    // the container's back (noticed by pyramid()). What was drawn from points [from, to) still holds while
    // the version is the same.
    quint64 version() const { return FVersion; }
    // The lowest and the highest finite value of points [from, to), from the pyramid; false when there is none.
    bool valueExtent(qsizetype from, qsizetype to, double& low, double& high) const;
    // Bytes held by the points and by the pyramid, reserved room included.
    size_t pointBytes() const { return static_cast<size_t>(mData.capacity()) * sizeof(QCPGraphData); }
    size_t pyramidBytes() const { return FPyramid.bytes(); }

private:
    // Takes in changes made behind the container's back.
    void catchUp() const;
    void rebuildPyramidFrom(qsizetype index) const;

    mutable TMinMaxPyramid FPyramid;
    mutable quint64 FVersion = 1;
};
