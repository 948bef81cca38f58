#pragma once
#include <QColor>
#include <QRectF>
#include <QString>
#include <qcustomplot.h>
#include <vector>

// Shaded bands across a plot's key axis (an outage, the time between two files, an alarm) and markers at
// single keys (an event). Bands are drawn below the series, each at least MinimumWidth pixels wide at any
// zoom, so that ten minutes still show in three days. A marker is a thin line with a small triangle at the
// top of the plot. The plot owns the bands like any layerable.
//
//     auto* gaps = new TChartBands(plot, QColor(128, 128, 128, 70));
//     gaps->addBand(lastBefore, firstAfter);
//     gaps->openBand(now);   // an outage going on: drawn to the right edge
//     gaps->closeBand(later);
class TChartBands : public QCPLayerable {
    Q_OBJECT
public:
    static constexpr int MinimumWidth = 3;
    struct TBand {
        double from = 0;
        double to = 0; // +infinity while open
    };

    TChartBands(QCustomPlot* plot, const QColor& color, const QString& layer = QStringLiteral("grid"));

    void addBand(double from, double to);
    // A band whose end is not known yet: drawn to the right edge of the plot until closeBand.
    void openBand(double from);
    void closeBand(double to);
    bool bandOpen() const;
    void addMarker(double key);
    void clear();
    const std::vector<TBand>& bands() const { return FBands; }
    const std::vector<double>& markers() const { return FMarkers; }
    QColor color() const { return FColor; }

    // The rectangles the bands take at the axes' ranges now, in pixels: those that show, in key order.
    std::vector<QRectF> bandRects() const;

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    void draw(QCPPainter* painter) override;
    QRect clipRect() const override;

private:
    QColor FColor;
    std::vector<TBand> FBands;
    std::vector<double> FMarkers;
};
