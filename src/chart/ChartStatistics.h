#pragma once
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <limits>
#include <qcustomplot.h>
#include <span>
#include <vector>

// What one series holds over a range of keys. Only finite values are readings: a gap (NaN) or an infinity is
// none. The standard deviation is that of a sample (divided by readings - 1); with fewer than two readings it
// is NaN, as are all the values without a reading.
struct TSeriesStatistics {
    static constexpr double None = std::numeric_limits<double>::quiet_NaN();
    QString title;
    bool shown = true;
    size_t readings = 0;
    double minimum = None, maximum = None, mean = None, deviation = None, first = None, last = None;
};

// The statistics of a chart's series, shown or hidden, over keys [from, to].
struct TRangeStatistics {
    double from = 0, to = 0;
    std::vector<TSeriesStatistics> series;
};

// The statistics of the points (in key order) with keys in [from, to]. Mean and variance are updated one reading
// at a time (Welford), which keeps them exact to rounding where the values are large and their spread small.
TSeriesStatistics SeriesStatistics(std::span<const QCPGraphData> points, double from, double to);

// The table's column titles: "Quantity", "Shown", "Readings", "Minimum", ... "Last".
QStringList StatisticsColumns();
// A row of the table under those titles: numbers in the C locale in the shortest form that reads back the same,
// empty for NaN; Shown is "yes" or "no".
QStringList StatisticsRow(const TSeriesStatistics& series);
// The duration of [from, to] seconds: "3723.5 s (1:02:03.5)".
QString DurationText(double seconds);
// The table as TAB-separated lines (ended by LF): "Start", "End" and "Duration" with their times (keyText writes
// a key), the column titles, then a row per series.
QString StatisticsText(const TRangeStatistics& stats, const std::function<QString(double)>& keyText);
