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
    // The reduced points and the pixels of the last drawing, and what they were taken from.
    struct TLineKey {
        double lower = 0, upper = 0, shift = 0;
        int left = 0, width = 0;
        qsizetype begin = 0, end = 0;
        quint64 version = 0;
        bool operator==(const TLineKey&) const = default;
    };
    struct TPixelKey {
        double lower = 0, upper = 0;
        int bottom = 0, height = 0;
        bool valid = false;
        bool operator==(const TPixelKey&) const = default;
    };
    QVector<QCPGraphData> FLineData;
    QVector<QPointF> FLines;
    TLineKey FLineKey;
    TPixelKey FPixelKey;
};
