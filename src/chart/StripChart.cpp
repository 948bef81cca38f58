#include "chart/StripChart.h"

#include "chart/PyramidGraph.h"

#include <QFile>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

// One minor tick between two major ticks.
class TOneSubTickTicker : public QCPAxisTicker {
protected:
    int getSubTickCount(double) override { return 1; }
};

// Design titles; the mode handlers replace the first three.
const char* const DesignTitles[TStripChart::MaxSeriesCount] = {
    "Sample Counts", "Ref Counts", "Concentration * 10 000", "Temperature", "Pressure * 10", "Humidity", "", ""};

QColor seriesColour(int index)
{
    static const QColor colours[TStripChart::MaxSeriesCount] = {
        Qt::red, Qt::green, Qt::black, Qt::blue, QColor(255, 0, 128), Qt::yellow, Qt::darkCyan, QColor(255, 128, 0)};
    return colours[index];
}

QPen dottedPen()
{
    QPen pen(QColor(128, 128, 128), 0, Qt::DotLine);
    return pen;
}

// Lays the legend out in as few rows as let every title show in full within the chart's width.
void fitLegend(QCustomPlot* chart)
{
    QCPLegend* legend = chart->legend;
    const int count = legend->itemCount();
    const QMargins outer = chart->plotLayout()->margins();
    const int available = chart->viewport().width() - outer.left() - outer.right();
    for (int columns = count; columns >= 1; --columns) {
        const int wrap = columns == count ? 0 : columns;
        if (legend->wrap() != wrap || legend->columnCount() != columns) {
            legend->setWrap(wrap);
            legend->setFillOrder(QCPLayoutGrid::foColumnsFirst, true);
        }
        if (legend->minimumOuterSizeHint().width() <= available)
            return;
    }
}

} // namespace

TStripChart::TStripChart(QCustomPlot* chart, int seriesCount) : FChart(chart)
{
    chart->setBackground(Qt::white);
    chart->axisRect()->setBackground(Qt::NoBrush);

    // Title above, legend below the plot.
    chart->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(chart, QStringLiteral("Double-Click graph to save as bitmap file"));
    chart->plotLayout()->addElement(0, 0, title);
    chart->legend->setVisible(true);
    chart->axisRect()->insetLayout()->take(chart->legend);
    chart->plotLayout()->addElement(2, 0, chart->legend);
    chart->plotLayout()->setRowStretchFactor(2, 0.001);
    chart->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    chart->legend->setMargins(QMargins(7, 1, 7, 1));
    chart->legend->setBorderPen(QPen(Qt::black));

    QCPAxis* bottom = chart->xAxis;
    bottom->setLabel(QStringLiteral("Elapsed Time (Seconds)"));
    bottom->setTicker(QSharedPointer<QCPAxisTicker>(new TOneSubTickTicker));
    bottom->setSubTickLength(1, 0);
    bottom->grid()->setPen(dottedPen());

    QCPAxis* left = chart->yAxis;
    left->setLabel(QStringLiteral("Digital Counts"));
    left->setTickLength(0, 0);
    left->setSubTickLength(0, 0);
    left->grid()->setSubGridVisible(true);
    left->grid()->setSubGridPen(dottedPen());

    for (int i = 0; i < std::clamp(seriesCount, 1, MaxSeriesCount); ++i) {
        auto* graph = new TPyramidGraph(chart->xAxis, chart->yAxis);
        graph->setObjectName(QStringLiteral("Series%1").arg(i + 1));
        graph->setName(QString::fromLatin1(DesignTitles[i]));
        graph->setPen(QPen(seriesColour(i), 1));
        graph->setLineStyle(QCPGraph::lsLine);
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        FSeries.push_back(graph);
    }

    // The bottom axis ends at 97 % of the chart's width; the legend wraps rather than clip a title.
    QObject::connect(chart, &QCustomPlot::beforeReplot, chart, [chart] {
        chart->axisRect()->setMinimumMargins(QMargins(0, 0, chart->width() * 3 / 100, 0));
        fitLegend(chart);
    });
}

QCPGraph* TStripChart::series(int index) const
{
    return FSeries[static_cast<size_t>(index)];
}

TReservingGraphData& TStripChart::data(int index) const
{
    return FSeries[static_cast<size_t>(index)]->points();
}

void TStripChart::setSeriesTitle(int index, const QString& title)
{
    series(index)->setName(title);
    FChart->replot(QCustomPlot::rpQueuedReplot);
}

void TStripChart::addPoints(double x, std::span<const double> values)
{
    if (!std::isfinite(x))
        return;
    const int count = static_cast<int>(std::min(values.size(), FSeries.size()));
    for (int i = 0; i < count; ++i) {
        const double y = values[static_cast<size_t>(i)];
        data(i).addPoint(x, y);
        // A value that is not finite is drawn as a gap and kept out of the extremes.
        if (!std::isfinite(y))
            continue;
        FMinY = FHasY ? std::min(FMinY, y) : y;
        FMaxY = FHasY ? std::max(FMaxY, y) : y;
        FHasY = true;
    }
    if (count > 0) {
        FMinX = FHasX ? std::min(FMinX, x) : x;
        FMaxX = FHasX ? std::max(FMaxX, x) : x;
        FHasX = true;
    }
    updateRanges();
    FChart->replot(QCustomPlot::rpQueuedReplot);
}

void TStripChart::addGap(double x)
{
    if (!std::isfinite(x))
        return;
    for (int i = 0; i < seriesCount(); ++i) {
        TReservingGraphData& points = data(i);
        const bool afterGap =
            !points.isEmpty() && std::isnan((points.constEnd() - 1)->value) && (points.constEnd() - 1)->key <= x;
        if (!points.isEmpty() && !afterGap)
            points.addPoint(x, std::numeric_limits<double>::quiet_NaN());
    }
    FChart->replot(QCustomPlot::rpQueuedReplot);
}

void TStripChart::clear()
{
    for (int i = 0; i < seriesCount(); ++i)
        data(i).clear();
    FHasX = FHasY = false;
    FChart->replot(QCustomPlot::rpQueuedReplot);
}

void TStripChart::updateRanges()
{
    auto span = [](double lower, double upper) {
        if (upper > lower)
            return QCPRange(lower, upper);
        const double pad = lower == 0 ? 1.0 : std::abs(lower) * 0.05;
        return QCPRange(lower - pad, upper + pad);
    };
    if (FHasX)
        FChart->xAxis->setRange(span(FMinX, FMaxX));
    if (FHasY)
        FChart->yAxis->setRange(span(FMinY, FMaxY));
}

void TStripChart::saveBitmap(const QString& fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("Cannot create file \"" + fileName.toStdString() + "\". "
                                 + file.errorString().toStdString());
    const QPixmap picture = FChart->toPixmap();
    if (!picture.save(&file, "BMP") || !file.flush())
        throw std::runtime_error("Cannot write file \"" + fileName.toStdString() + "\". "
                                 + file.errorString().toStdString());
}
