#pragma once
#include "chart/MinMaxPyramid.h"

#include <QList>
#include <vector>

struct TColumnSpan;

// Where a key lands across the chart: the arithmetic of a linear, left-to-right key axis, and the pixel
// column a line through that place is drawn in.
struct TKeyToPixel {
    double lower = 0; // the key at the left edge
    double size = 1;  // the keys across the width
    double width = 1; // pixels across
    double left = 0;  // the left edge in pixels
    double shift = 0; // where a column starts: at a whole pixel (0) or half a pixel before one (0.5)

    double pixel(double key) const { return (key - lower) / size * width + left; }
    qint64 column(double key) const
    {
        // Far outside the chart only the side matters; the bound keeps the arithmetic in range.
        double x = pixel(key) + shift;
        x = x < -1e15 ? -1e15 : x > 1e15 ? 1e15 : x;
        const qint64 whole = static_cast<qint64>(x);
        return whole - (x < static_cast<double>(whole) ? 1 : 0);
    }
    // A key at or below which every key lies in `column` or to its left; at most a few units in the last
    // place below the first key of the next column.
    double lastKeyIn(qint64 column) const;
};

// Reduces points [from, to) of a series to what a line drawing of them needs: per pixel column and per
// run of points between gaps, the first point, the lowest and the highest point and the last point (M4).
// A line through these lights the same pixels per column as one through every point. Buckets of the
// pyramid that fall into one column stand for their points; elsewhere it goes down a level, and at the
// lowest level to the points. A value that is not finite is a gap: the output breaks the line there.
class TColumnReducer {
public:
    // `points` is the first point of the series; `out` is appended to.
    TColumnReducer(const QCPGraphData* points, const TMinMaxPyramid& pyramid, const TKeyToPixel& map,
                   QList<QCPGraphData>& out);
    // Appends the reduced points of [from, to) to the output; `columns` is the number of columns across.
    void reduce(qsizetype from, qsizetype to, qsizetype columns);
    // Appends the reduced points of the spans, found from the keys of this or of another series. False,
    // with nothing appended, when a span's first or last point lies in another column here: these keys
    // differ from those the spans were found from.
    bool reduceSpans(const std::vector<TColumnSpan>& spans);

private:
    void prefetchBorder(int level, qsizetype bucket);
    void visit(int level, qsizetype bucket);
    void addPoints(qsizetype from, qsizetype to);
    // The range of points [from, to) from whole buckets and the points beside them; false when one of them
    // is a gap.
    bool rangeOf(qsizetype from, qsizetype to, TValueRange& range) const;
    void prefetchSpan(qsizetype from, qsizetype to) const;
    void startRun(qsizetype first, qint64 column, const TValueRange& range);
    void addBreak(double key);
    void flush();
    // Output is written in place: room for `points` more, then put.
    void makeRoom(qsizetype points);
    void put(double key, double value);

    const QCPGraphData* FPoints;
    const TMinMaxPyramid& FPyramid;
    TKeyToPixel FMap;
    QList<QCPGraphData>& FOut;
    QCPGraphData* FData = nullptr; // FOut's points; [FSize, FOut.size()) is room not yet written
    qsizetype FSize;
    qsizetype FFrom = 0, FTo = 0;

    // The run of the column being collected: points [FFirst, FLast] and their range. Keys up to
    // FColumnLast are in the same column.
    bool FOpen = false;
    qint64 FColumn = 0;
    double FColumnLast = 0;
    qsizetype FFirst = 0, FLast = 0;
    TValueRange FRange{};
};
