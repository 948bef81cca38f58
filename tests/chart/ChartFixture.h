#pragma once
// Strip charts on plots of their own, filled with data sets, for the drawing and navigation tests.
#include "chart/StripChart.h"

#include <QSize>
#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

// The value axis' range that shows values from lower to upper: 5 % of it free above and below.
inline QCPRange valueRange(double lower, double upper)
{
    const double margin = (upper - lower) * 0.05;
    return QCPRange(lower - margin, upper + margin);
}

// Ticks, x of a tick, y of a series at a tick (random walks where none), gaps: the tick they precede and x.
struct TDataSet {
    const char* name;
    int ticks;
    double (*x)(int t);
    double (*y)(int s, int t) = nullptr;
    std::vector<std::pair<int, double>> gaps = {};
};

// A strip chart on a plot of its own holding a data set; hidden unless shown.
struct TSizedChart {
    QCustomPlot plot;
    TStripChart chart{&plot};
    TSizedChart(QSize size, const TDataSet& set, bool antialiased = false)
    {
        plot.resize(size);
        plot.setViewport(QRect(QPoint(), size)); // hidden: no resize event sets it
        plot.setNotAntialiasedElements(antialiased ? QCP::aeNone : QCP::aePlottables);
        std::minstd_rand random(1);
        std::array<double, TStripChart::SeriesCount> y{0, 40, 80, 120, 160, 200};
        for (int t = 0, gap = 0; t < set.ticks; ++t) {
            for (; gap < int(set.gaps.size()) && set.gaps[gap].first == t; ++gap)
                chart.addGap(set.gaps[gap].second);
            for (int s = 0; s < TStripChart::SeriesCount; ++s)
                y[s] = set.y ? set.y(s, t) : y[s] + (int(random() % 2001) - 1000) * 0.0005 * (s + 1);
            chart.addPoints(set.x(t), y);
        }
    }
};
