#include "chart/ChartBands.h"

#include <algorithm>
#include <cmath>
#include <limits>

TChartBands::TChartBands(QCustomPlot* plot, const QColor& color, const QString& layer)
    : QCPLayerable(plot, plot->layer(layer) ? layer : QString()), FColor(color)
{}

void TChartBands::addBand(double from, double to)
{
    if (!std::isfinite(from) || std::isnan(to))
        return;
    FBands.push_back({std::min(from, to), std::max(from, to)});
    mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TChartBands::openBand(double from)
{
    if (bandOpen() || !std::isfinite(from))
        return;
    FBands.push_back({from, std::numeric_limits<double>::infinity()});
    mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TChartBands::closeBand(double to)
{
    if (!bandOpen())
        return;
    FBands.back().to = std::max(FBands.back().from, to);
    mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

bool TChartBands::bandOpen() const
{
    return !FBands.empty() && std::isinf(FBands.back().to);
}

void TChartBands::addMarker(double key)
{
    if (!std::isfinite(key))
        return;
    FMarkers.push_back(key);
    mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TChartBands::clear()
{
    FBands.clear();
    FMarkers.clear();
    mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

std::vector<QRectF> TChartBands::bandRects() const
{
    std::vector<QRectF> rects;
    const QCPAxis* keys = mParentPlot->xAxis;
    const QRect plot = clipRect();
    const double half = MinimumWidth / 2.0;
    for (const TBand& band : FBands) {
        double left = keys->coordToPixel(band.from);
        double right = std::isinf(band.to) ? plot.right() + 1.0 : keys->coordToPixel(band.to);
        if (keys->rangeReversed())
            std::swap(left, right);
        if (right - left < MinimumWidth) {
            const double middle = (left + right) / 2;
            left = middle - half;
            right = middle + half;
        }
        if (right < plot.left() || left > plot.right() + 1.0)
            continue;
        rects.emplace_back(QPointF(left, plot.top()), QPointF(right, plot.bottom() + 1.0));
    }
    return rects;
}

void TChartBands::applyDefaultAntialiasingHint(QCPPainter* painter) const
{
    applyAntialiasingHint(painter, false, QCP::aeItems);
}

QRect TChartBands::clipRect() const
{
    return mParentPlot->axisRect()->rect();
}

void TChartBands::draw(QCPPainter* painter)
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(FColor);
    for (const QRectF& rect : bandRects())
        painter->drawRect(rect);
    if (FMarkers.empty())
        return;
    const QRect plot = clipRect();
    const QCPAxis* keys = mParentPlot->xAxis;
    QColor line = FColor;
    line.setAlpha(255);
    for (const double key : FMarkers) {
        const double x = keys->coordToPixel(key);
        if (x < plot.left() || x > plot.right())
            continue;
        painter->setPen(QPen(line, 1, Qt::DotLine));
        painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter->setPen(Qt::NoPen);
        painter->setBrush(line);
        const QPointF tip(x, plot.top() + 7);
        painter->drawPolygon(QPolygonF({tip, QPointF(x - 5, plot.top()), QPointF(x + 5, plot.top())}));
        painter->setBrush(FColor);
    }
}
