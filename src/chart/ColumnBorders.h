#pragma once
#include "chart/ColumnReducer.h"

#include <QObject>
#include <vector>

// The points of one pixel column: indexes [from, to).
struct TColumnSpan {
    qint64 column;
    qsizetype from, to;
};

// Where points [from, to) of a series, sorted by key, change pixel column: one span per column that holds
// points, left to right. Series that share their keys share their borders: they are found once, from one
// series, and every other series checks them as it reduces (TColumnReducer::reduceSpans).
class TColumnBorders {
public:
    // Whether the spans were found for this map and index range.
    bool foundFor(const TKeyToPixel& map, qsizetype from, qsizetype to) const
    {
        return FValid && FFrom == from && FTo == to && FMap.lower == map.lower && FMap.size == map.size
               && FMap.width == map.width && FMap.left == map.left && FMap.shift == map.shift;
    }
    // Finds the spans of points [from, to) from their keys; `points` is the first point of the series.
    void find(const QCPGraphData* points, qsizetype from, qsizetype to, const TKeyToPixel& map);
    void clear() { FValid = false; }
    const std::vector<TColumnSpan>& spans() const { return FSpans; }

private:
    std::vector<TColumnSpan> FSpans;
    TKeyToPixel FMap;
    qsizetype FFrom = 0, FTo = 0;
    bool FValid = false;
};

// The borders shared by the graphs on one key axis: a child of the axis, found by the graphs that draw on it.
class TSharedColumnBorders : public QObject {
    Q_OBJECT
public:
    static TColumnBorders& of(QObject* keyAxis);

private:
    using QObject::QObject;
    TColumnBorders FBorders;
};
