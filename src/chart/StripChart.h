#pragma once
#include "chart/ChartSeriesData.h"

#include <QString>
#include <array>
#include <qcustomplot.h>
#include <span>
#include <vector>

class TPyramidGraph;

// The strip chart on a QCustomPlot: title, legend below the plot, axis titles and grids, six line series
// Series1..Series6 with their colours. Axes follow the points present. Each series draws per pixel
// column from a min/max pyramid over its points (TPyramidGraph), so a redraw costs what the chart's
// width costs, however long the run.
class TStripChart {
public:
    static constexpr int SeriesCount = 6; // the main window's
    static constexpr int MaxSeriesCount = 8;

    // A chart of `seriesCount` series (at most MaxSeriesCount), named Series1, Series2, ...
    explicit TStripChart(QCustomPlot* chart, int seriesCount = SeriesCount);

    QCustomPlot* chart() const { return FChart; }
    int seriesCount() const { return static_cast<int>(FSeries.size()); }
    QCPGraph* series(int index) const;
    TReservingGraphData& data(int index) const;
    void setSeriesTitle(int index, const QString& title);

    // Adds (x, values[i]) to the first values.size() series and schedules a redraw.
    void addPoints(double x, std::span<const double> values);
    // Breaks the line of every series that has points at x (an outage): the points before and after x are
    // not joined. Stored as a point at x with a quiet NaN value; the axes' ranges ignore it.
    void addGap(double x);
    // Removes every point of the series, first to last.
    void clear();

    // The bottom axis shows clock time: keys are seconds since 1970-01-01 00:00 of the clock shown, drawn
    // as they stand (no time zone applied), labelled with date and time.
    void setClockTimeAxis();
    // Replaces the points of a series at once; keys ascending, a NaN value breaks the line (a gap).
    void setPoints(int index, QVector<QCPGraphData> points);
    // Renders the chart as shown into a BMP file; raises std::runtime_error when it cannot be written.
    void saveBitmap(const QString& fileName) const;

private:
    void updateRanges();

    QCustomPlot* FChart;
    std::vector<TPyramidGraph*> FSeries;
    bool FHasX = false, FHasY = false;
    double FMinX = 0, FMaxX = 0, FMinY = 0, FMaxY = 0;
};
