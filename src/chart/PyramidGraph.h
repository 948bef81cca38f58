#pragma once
#include "chart/ChartSeriesData.h"

#include <qcustomplot.h>

// A line graph whose drawing costs what the chart's width costs, not what the number of points costs.
// Its points live in a TReservingGraphData; with adaptive sampling on (the default here) a line style of
// lsLine draws, per pixel column, the first, lowest, highest and last value of the points in it, taken
// from the points' min/max pyramid. With adaptive sampling off it draws every point, as QCPGraph does.
class TPyramidGraph : public QCPGraph {
    Q_OBJECT
public:
    TPyramidGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

    TReservingGraphData& points() const { return *FPoints; }

protected:
    void draw(QCPPainter* painter) override;
    void getOptimizedLineData(QVector<QCPGraphData>* lineData, const QCPGraphDataContainer::const_iterator& begin,
                              const QCPGraphDataContainer::const_iterator& end) const override;

private:
    bool drawsFromPyramid() const;

    QSharedPointer<TReservingGraphData> FPoints;
    // Where the painter of the drawing under way puts a pixel column's left edge, in plot pixels.
    double FColumnShift = 0.5;
    // The points and pixels of the last drawing, kept for their room.
    QVector<QCPGraphData> FLineData;
    QVector<QPointF> FLines;
};
