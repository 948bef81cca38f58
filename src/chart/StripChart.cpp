#include "chart/StripChart.h"

#include "chart/ChartGrid.h"
#include "chart/ChartLanes.h"
#include "chart/ChartLegend.h"
#include "chart/ChartNavigator.h"
#include "chart/ChartOverlay.h"
#include "chart/PyramidGraph.h"

#include <QFile>
#include <QMenu>
#include <QMessageBox>
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
class TOneSubTickDateTimeTicker : public QCPAxisTickerDateTime {
protected:
    int getSubTickCount(double) override { return 1; }
};

// Design titles; the mode handlers replace the first three.
const char* const DesignTitles[TStripChart::SeriesCount] = {"Sample Counts", "Ref Counts",    "Concentration * 10 000",
                                                            "Temperature",   "Pressure * 10", "Humidity"};

QColor seriesColour(int index)
{
    static const QColor colours[] = {Qt::red,
                                     Qt::green,
                                     Qt::black,
                                     Qt::blue,
                                     QColor(255, 0, 128),
                                     Qt::yellow,
                                     QColor(0, 128, 128),
                                     QColor(128, 0, 255),
                                     QColor(255, 128, 0),
                                     QColor(128, 64, 0),
                                     Qt::darkGray,
                                     Qt::cyan};
    return colours[index % static_cast<int>(std::size(colours))];
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

// The range from lower to upper; an empty one is widened so that the axis can show it.
QCPRange span(double lower, double upper)
{
    if (upper > lower)
        return QCPRange(lower, upper);
    const double pad = lower == 0 ? 1.0 : std::abs(lower) * 0.05;
    return QCPRange(lower - pad, upper + pad);
}

// The values' range with a margin of MarginPart of its size on both sides, so that no line lies on the frame.
constexpr double MarginPart = 0.05;
QCPRange withMargin(const QCPRange& range)
{
    const double margin = range.size() * MarginPart;
    return QCPRange(range.lower - margin, range.upper + margin);
}

// Whether an axis can show `range` of values around its magnitude: finite, not inverted, wide enough for
// doubles to tell its pixels apart and narrow enough to stay finite when zoomed out further.
bool resolvable(const QCPRange& range, double maximumSize)
{
    const double magnitude = std::max(std::abs(range.lower), std::abs(range.upper));
    return std::isfinite(range.lower) && std::isfinite(range.upper) && range.upper > range.lower
           && range.size() >= std::max(magnitude * 1e-11, 1e-200) && range.size() <= maximumSize;
}

} // namespace

void TStripChart::TExtent::take(double value)
{
    low = any ? std::min(low, value) : value;
    high = any ? std::max(high, value) : value;
    any = true;
}

TStripChart::TStripChart(QCustomPlot* chart, int seriesCount, QObject* parent) : QObject(parent), FChart(chart)
{
    chart->setBackground(Qt::white);
    chart->axisRect()->setBackground(Qt::NoBrush);

    // Title above, legend below the plot. A rectangle's outline runs one pixel outside its right and bottom
    // edges, and QCustomPlot clips every drawing one pixel above the chart's bottom: the legend keeps that
    // far from the chart's edges so that its frame shows whole.
    chart->plotLayout()->insertRow(0);
    auto* title = new TChartTitle(chart, QStringLiteral("Double-Click graph to save as bitmap file"));
    chart->plotLayout()->addElement(0, 0, title);
    chart->legend->setVisible(true);
    chart->axisRect()->insetLayout()->take(chart->legend);
    chart->plotLayout()->addElement(2, 0, chart->legend);
    chart->plotLayout()->setRowStretchFactor(2, 0.001);
    chart->plotLayout()->setMargins(QMargins(0, 0, 1, 2));
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
    new TChartGrid(chart, {bottom, left});

    seriesCount = std::max(seriesCount, 1);
    for (int i = 0; i < seriesCount; ++i) {
        auto* graph = new TPyramidGraph(chart->xAxis, chart->yAxis);
        graph->setObjectName(QStringLiteral("Series%1").arg(i + 1));
        graph->setName(i < SeriesCount ? QString::fromLatin1(DesignTitles[i]) : QStringLiteral("Series %1").arg(i + 1));
        graph->setPen(QPen(seriesColour(i), 1));
        graph->setLineStyle(QCPGraph::lsLine);
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        graph->removeFromLegend();
        chart->legend->addItem(new TSeriesLegendItem(chart->legend, graph));
        FSeries.push_back(graph);
    }
    FValueExtents.resize(FSeries.size());
    for (const TPyramidGraph* graph : FSeries)
        FTitles.push_back({{-std::numeric_limits<double>::infinity(), graph->name()}});

    // The bottom axis ends at 97 % of the chart's width; the legend wraps rather than clip a title.
    connect(chart, &QCustomPlot::beforeReplot, this, [chart] {
        chart->axisRect()->setMinimumMargins(QMargins(0, 0, chart->width() * 3 / 100, 0));
        fitLegend(chart);
    });
    connect(chart, &QCustomPlot::legendClick, this, [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
        if (auto* entry = qobject_cast<QCPPlottableLegendItem*>(item)) {
            const auto at = std::find(FSeries.begin(), FSeries.end(), entry->plottable());
            if (at != FSeries.end())
                setSeriesShown(static_cast<int>(at - FSeries.begin()), !(*at)->visible());
        }
    });

    connect(chart, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent* event) {
        const QCPLegend* legend = FChart->legend;
        if (!legend->realVisibility() || !legend->outerRect().contains(event->position().toPoint()))
            emit doubleClicked();
    });

    // Nothing uses QCustomPlot's own overlay layer: it shares the main paint buffer. The readout has a
    // layer of its own, buffered only while it shows (TChartNavigator).
    chart->layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    chart->addLayer(TChartOverlay::LayerName, chart->layer(QStringLiteral("overlay")), QCustomPlot::limAbove);
    FOverlay = new TChartOverlay(*this);
    FNavigator = new TChartNavigator(*this);
}

TStripChart::~TStripChart()
{
    if (FChart) {
        setLanes(false);
        delete FOverlay;
        delete FMenu;
    }
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
    setSeriesTitle(index, title, -std::numeric_limits<double>::infinity());
}

void TStripChart::setSeriesTitle(int index, const QString& title, double fromKey)
{
    if (std::isnan(fromKey))
        return;
    auto& titles = FTitles[static_cast<size_t>(index)];
    while (titles.size() > 1 && titles.back().first >= fromKey)
        titles.pop_back();
    if (titles.front().first >= fromKey)
        titles.front().second = title;
    else if (titles.back().second != title)
        titles.emplace_back(fromKey, title);
    series(index)->setName(title);
    replotSoon();
}

QString TStripChart::seriesTitleAt(int index, double key) const
{
    const auto& titles = FTitles[static_cast<size_t>(index)];
    const auto after = std::upper_bound(titles.begin() + 1, titles.end(), key,
                                        [](double k, const std::pair<double, QString>& t) { return k < t.first; });
    return (after - 1)->second;
}

void TStripChart::setKeyAxis(TKeyAxis kind)
{
    FKeyAxis = kind;
    QCPAxis* bottom = FChart->xAxis;
    if (kind == TKeyAxis::ClockTime) {
        auto ticker = QSharedPointer<TOneSubTickDateTimeTicker>::create();
        ticker->setDateTimeSpec(Qt::LocalTime);
        ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss\ndd/MM/yyyy"));
        bottom->setTicker(ticker);
        bottom->setLabel(QStringLiteral("Time"));
    } else {
        bottom->setTicker(QSharedPointer<QCPAxisTicker>(new TOneSubTickTicker));
        bottom->setLabel(QStringLiteral("Elapsed Time (Seconds)"));
    }
    replotSoon();
}

void TStripChart::addPoints(double x, std::span<const double> values)
{
    if (!std::isfinite(x))
        return;
    const size_t count = std::min(values.size(), FSeries.size());
    for (size_t i = 0; i < count; ++i) {
        const double y = values[i];
        FSeries[i]->points().addPoint(x, y);
        // A value that is not finite is drawn as a gap and kept out of the extremes.
        if (std::isfinite(y))
            FValueExtents[i].take(y);
    }
    if (count > 0)
        FKeyExtent.take(x);
    updateRanges();
    replotSoon();
}

void TStripChart::addSeriesPoints(int index, std::span<const QCPGraphData> points)
{
    if (points.empty())
        return;
    data(index).addPoints(points.data(), static_cast<qsizetype>(points.size()));
    TExtent& values = FValueExtents[static_cast<size_t>(index)];
    for (const QCPGraphData& p : points) {
        if (!std::isfinite(p.key))
            continue;
        FKeyExtent.take(p.key);
        if (std::isfinite(p.value))
            values.take(p.value);
    }
    updateRanges();
    replotSoon();
}

void TStripChart::reserve(qsizetype pointsPerSeries)
{
    for (TPyramidGraph* graph : FSeries)
        graph->points().reserve(pointsPerSeries);
}

void TStripChart::addGap(double x)
{
    if (!std::isfinite(x))
        return;
    for (TPyramidGraph* graph : FSeries) {
        TReservingGraphData& points = graph->points();
        const bool afterGap =
            !points.isEmpty() && std::isnan((points.constEnd() - 1)->value) && (points.constEnd() - 1)->key <= x;
        if (!points.isEmpty() && !afterGap)
            points.addPoint(x, std::numeric_limits<double>::quiet_NaN());
    }
    replotSoon();
}

void TStripChart::clear()
{
    for (TPyramidGraph* graph : FSeries)
        graph->points().clear();
    for (auto& titles : FTitles) // a fresh run: the last titles hold for all of it
        titles = {{-std::numeric_limits<double>::infinity(), titles.back().second}};
    FKeyExtent = {};
    std::fill(FValueExtents.begin(), FValueExtents.end(), TExtent{});
    FFollowed = TView::WholeRun;
    setView(TView::WholeRun);
}

void TStripChart::updateRanges()
{
    if (!FChart || !FKeyExtent.any || (FView == TView::Held && !FLanes))
        return;
    if (FView != TView::Held)
        FChart->xAxis->setRange(FView == TView::Last ? QCPRange(FKeyExtent.high - FLastSpan, FKeyExtent.high)
                                                     : span(FKeyExtent.low, FKeyExtent.high));
    if (FLanes) {
        FLanes->fit(FView == TView::WholeRun);
        return;
    }
    const QCPRange keys = FChart->xAxis->range();
    TExtent values;
    for (size_t i = 0; i < FSeries.size(); ++i) {
        if (!FSeries[i]->visible())
            continue;
        if (FView == TView::WholeRun) {
            if (FValueExtents[i].any) {
                values.take(FValueExtents[i].low);
                values.take(FValueExtents[i].high);
            }
            continue;
        }
        const TReservingGraphData& points = FSeries[i]->points();
        const qsizetype from = points.findBegin(keys.lower, false) - points.constBegin();
        const qsizetype to = points.findEnd(keys.upper, false) - points.constBegin();
        double low, high;
        if (points.valueExtent(from, to, low, high)) {
            values.take(low);
            values.take(high);
        }
    }
    if (values.any)
        FChart->yAxis->setRange(withMargin(span(values.low, values.high)));
}

void TStripChart::setView(TView view)
{
    FView = view;
    if (FLanes && view != TView::Held)
        FLanes->releaseValues();
    updateRanges();
    replotSoon();
    emit viewChanged();
}

void TStripChart::showWholeRun()
{
    FFollowed = TView::WholeRun;
    setView(TView::WholeRun);
}

void TStripChart::showLast(double seconds)
{
    if (!(seconds > 0) || !std::isfinite(seconds))
        return;
    FLastSpan = seconds;
    FFollowed = TView::Last;
    setView(TView::Last);
}

void TStripChart::resetView()
{
    setView(FFollowed);
}

void TStripChart::hold(const QCPRange& keys, const QCPRange& values)
{
    if (!resolvable(keys, 1e12) || !resolvable(values, 1e200))
        return;
    FChart->xAxis->setRange(keys);
    FChart->yAxis->setRange(values);
    setView(TView::Held);
}

void TStripChart::setSeriesShown(int index, bool shown)
{
    series(index)->setVisible(shown);
    if (FLanes)
        FLanes->arrange();
    updateRanges();
    replotSoon();
}

bool TStripChart::seriesShown(int index) const
{
    return series(index)->visible();
}

// A chart squeezed to nothing has no paint buffer to draw into; it draws again when it is given room.
void TStripChart::replotSoon() const
{
    if (FChart && !FChart->size().isEmpty())
        FChart->replot(QCustomPlot::rpQueuedReplot);
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

void TStripChart::reportProblem(const QString& text)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&TStripChart::problem)))
        emit problem(text);
    else
        QMessageBox::warning(FChart, QStringLiteral("Save picture"), text);
}
