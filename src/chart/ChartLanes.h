#pragma once
#include <QObject>
#include <QPointer>
#include <QRect>
#include <qcustomplot.h>
#include <vector>

class QAction;
class TChartGrid;
class TStripChart;

// The lanes of a strip chart (TStripChart::setLanes): an axis rect per series, with the series' title in its
// corner, stacked in a layout between the chart's title and its own axis rect, which keeps only its time axis.
// Every lane's time axis follows that one; the left and right margins of all of them are kept equal, so that
// a pixel column is one key across the lanes. Made by the chart; deleting it puts the series back on the plot.
class TChartLanes : public QObject {
    Q_OBJECT
public:
    explicit TChartLanes(TStripChart& chart);
    ~TChartLanes() override;

    QCPAxisRect* lane(int index) const { return FLanes[static_cast<size_t>(index)]; }
    // The rectangle the shown lanes cover; empty when none shows.
    QRect area() const;
    // Puts the lanes of the shown series into the layout, top to bottom, with equal shares of the height.
    void arrange();
    // Fits each shown lane's value axis to its series: all of it, or the part in the time axis' range. A lane
    // whose values the operator zoomed keeps them until released.
    void fit(bool wholeRun);
    // The shown lane at a point of the plot, or -1.
    int laneAt(const QPoint& at) const;
    // Shows `values` in the lane and holds them there.
    void holdValues(int index, const QCPRange& values);
    void releaseValues();

private:
    void follow();

    TStripChart& FChart;
    QPointer<QCustomPlot> FPlot; // null once the plot is gone, with everything on it
    QCPLayoutGrid* FGrid;
    QCPMarginGroup* FMargins;
    QSize FMainMinimum; // of the chart's own axis rect, given back when the lanes go
    std::vector<QCPAxisRect*> FLanes;
    std::vector<TChartGrid*> FGrids;
    std::vector<QCPItemText*> FTitles;
    std::vector<bool> FValuesHeld; // per lane
};

// Adds the checkable "Split into lanes" entry to the chart's right-click menu (TStripChart::addMenuAction);
// it shows and switches TStripChart::lanes(). The chart owns the action.
QAction* addLanesEntry(TStripChart& chart);
