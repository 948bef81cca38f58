#pragma once
#include "ReadingFormat.h"

#include <QString>
#include <array>
#include <qcustomplot.h>

// Point storage of one series that grows in steps of GrowthStep points, so that appending does not
// reallocate point by point: the first point reserves a million, the millionth-and-first another million.
class TReservingGraphData : public QCPGraphDataContainer {
public:
    static constexpr int GrowthStep = 1000000;
    // Appends (key, value), or inserts it at its sorted place when key is below the last key.
    void addPoint(double key, double value);
    qsizetype capacity() const { return mData.capacity(); }
};

// The strip chart on a QCustomPlot: title, legend below the plot, axis titles and grids, six line series
// Series1..Series6 with their colours. Axes follow the points present.
class TStripChart {
public:
    static constexpr int SeriesCount = 6;

    explicit TStripChart(QCustomPlot* chart);

    QCustomPlot* chart() const { return FChart; }
    QCPGraph* series(int index) const { return FSeries[static_cast<size_t>(index)]; }
    TReservingGraphData& data(int index) const { return *FData[static_cast<size_t>(index)]; }
    void setSeriesTitle(int index, const QString& title);

    // Adds (x, values.y[i]) to the first values.count series and schedules a redraw.
    void addPoints(double x, const TChartValues& values);
    // Breaks the lines of all six series at x (an outage): a point at x whose value is a quiet NaN, which
    // a series draws as a gap. The axes' ranges ignore it.
    void addGap(double x);
    // Removes every point of the six series, first to last.
    void clear();
    // Renders the chart as shown into a BMP file; raises std::runtime_error when it cannot be written.
    void saveBitmap(const QString& fileName) const;

private:
    void updateRanges();

    QCustomPlot* FChart;
    std::array<QCPGraph*, SeriesCount> FSeries{};
    std::array<QSharedPointer<TReservingGraphData>, SeriesCount> FData;
    bool FHasPoints = false;
    double FMinX = 0, FMaxX = 0, FMinY = 0, FMaxY = 0;
};
