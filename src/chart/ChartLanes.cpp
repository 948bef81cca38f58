#include "chart/ChartLanes.h"

#include "chart/ChartGrid.h"
#include "chart/ChartOverlay.h"
#include "chart/PyramidGraph.h"
#include "chart/StripChart.h"

#include <QAction>
#include <QMenu>
#include <algorithm>
#include <cmath>

namespace {
// The row of the plot's layout the lanes take: below the chart's title, above its time axis and legend.
constexpr int LanesRow = 1;
constexpr int LaneSpacing = 6;

// As the chart scales its value axis: an empty range widened, 5 % of it free above and below.
QCPRange laneRange(double low, double high)
{
    if (!(high > low)) {
        const double pad = low == 0 ? 1.0 : std::abs(low) * 0.05;
        low -= pad;
        high += pad;
    }
    const double margin = (high - low) * 0.05;
    return QCPRange(low - margin, high + margin);
}

void copyStyle(const QCPAxis* from, QCPAxis* to)
{
    to->setTickLength(from->tickLengthIn(), from->tickLengthOut());
    to->setSubTickLength(from->subTickLengthIn(), from->subTickLengthOut());
    to->grid()->setPen(from->grid()->pen());
    to->grid()->setSubGridPen(from->grid()->subGridPen());
    to->grid()->setSubGridVisible(from->grid()->subGridVisible());
}
} // namespace

TChartLanes::TChartLanes(TStripChart& chart) : QObject(&chart), FChart(chart), FPlot(chart.chart())
{
    QCPLayoutGrid* top = FPlot->plotLayout();
    top->insertRow(LanesRow);
    FGrid = new QCPLayoutGrid;
    top->addElement(LanesRow, 0, FGrid);
    FGrid->setRowSpacing(LaneSpacing);
    FMargins = new QCPMarginGroup(FPlot);

    // The chart's own axis rect keeps its time axis, with no height of its own.
    QCPAxisRect* main = FPlot->axisRect();
    main->setMarginGroup(QCP::msLeft | QCP::msRight, FMargins);
    FMainMinimum = main->minimumSize(); // an axis rect is at least 50 px high by default
    main->setMinimumSize(FMainMinimum.width(), 0);
    main->setMaximumSize(QWIDGETSIZE_MAX, 0);
    top->setRowStretchFactor(LanesRow + 1, 0.001);
    FPlot->yAxis->setVisible(false);
    FPlot->xAxis->grid()->setVisible(false);

    for (int i = 0; i < chart.seriesCount(); ++i) {
        auto* lane = new QCPAxisRect(FPlot);
        lane->setObjectName(QStringLiteral("Lane%1").arg(i + 1));
        lane->setMarginGroup(QCP::msLeft | QCP::msRight, FMargins);
        // The lanes' time axes have no labels: a lane needs little room above and below.
        lane->setAutoMargins(QCP::msLeft | QCP::msRight);
        lane->setMargins(QMargins(0, 1, 0, 3));
        QCPAxis* keys = lane->axis(QCPAxis::atBottom);
        QCPAxis* values = lane->axis(QCPAxis::atLeft);
        copyStyle(FPlot->xAxis, keys);
        copyStyle(FPlot->yAxis, values);
        keys->setTicker(FPlot->xAxis->ticker());
        keys->setTickLabels(false);
        keys->setRange(FPlot->xAxis->range());
        values->ticker()->setTickCount(4);
        FGrids.push_back(new TChartGrid(FPlot, {keys, values}));
        QCPGraph* graph = chart.series(i);
        graph->setKeyAxis(keys);
        graph->setValueAxis(values);

        auto* title = new QCPItemText(FPlot);
        title->setClipAxisRect(lane);
        title->position->setType(QCPItemPosition::ptAxisRectRatio);
        title->position->setAxisRect(lane);
        title->position->setCoords(0.005, 0.0);
        title->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        title->setColor(graph->pen().color().darker(150));
        title->setBrush(QColor(255, 255, 255, 200));
        FTitles.push_back(title);
        FLanes.push_back(lane);
    }
    FValuesHeld.assign(FLanes.size(), false);
    connect(FPlot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &TChartLanes::follow);
    connect(FPlot, &QCustomPlot::beforeReplot, this, [this] {
        follow();
        for (size_t i = 0; i < FTitles.size(); ++i)
            FTitles[i]->setText(FChart.series(static_cast<int>(i))->name());
    });
    arrange();
}

TChartLanes::~TChartLanes()
{
    if (!FPlot)
        return;
    for (int i = 0; i < FChart.seriesCount(); ++i) {
        FChart.series(i)->setKeyAxis(FPlot->xAxis);
        FChart.series(i)->setValueAxis(FPlot->yAxis);
    }
    for (QCPItemText* title : FTitles)
        FPlot->removeItem(title);
    for (TChartGrid* grid : FGrids)
        delete grid;
    for (QCPAxisRect* lane : FLanes) {
        if (lane->layout() == FGrid)
            FGrid->take(lane);
        delete lane;
    }
    QCPLayoutGrid* top = FPlot->plotLayout();
    top->setRowStretchFactor(LanesRow + 1, 1);
    top->remove(FGrid);
    top->simplify();
    QCPAxisRect* main = FPlot->axisRect();
    main->setMarginGroup(QCP::msLeft | QCP::msRight, nullptr);
    delete FMargins;
    main->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    main->setMinimumSize(FMainMinimum);
    FPlot->yAxis->setVisible(true);
    FPlot->xAxis->grid()->setVisible(true);
}

// Every lane's time axis shows what the chart's does, with its ticker (which the window may replace).
void TChartLanes::follow()
{
    for (QCPAxisRect* lane : FLanes) {
        QCPAxis* keys = lane->axis(QCPAxis::atBottom);
        keys->setRange(FPlot->xAxis->range());
        if (keys->ticker() != FPlot->xAxis->ticker())
            keys->setTicker(FPlot->xAxis->ticker());
    }
}

QRect TChartLanes::area() const
{
    QRect area;
    for (const QCPAxisRect* lane : FLanes)
        if (lane->visible())
            area |= lane->rect();
    return area;
}

void TChartLanes::arrange()
{
    for (QCPAxisRect* lane : FLanes)
        if (lane->layout() == FGrid)
            FGrid->take(lane);
    FGrid->simplify();
    int row = 0;
    for (size_t i = 0; i < FLanes.size(); ++i) {
        const bool shown = FChart.seriesShown(static_cast<int>(i));
        FLanes[i]->setVisible(shown);
        if (shown)
            FGrid->addElement(row++, 0, FLanes[i]);
    }
}

void TChartLanes::fit(bool wholeRun)
{
    const QCPRange keys = FPlot->xAxis->range();
    for (size_t i = 0; i < FLanes.size(); ++i) {
        const int index = static_cast<int>(i);
        if (!FChart.seriesShown(index) || FValuesHeld[i])
            continue;
        double low = 0, high = 0;
        bool any = false;
        if (wholeRun) {
            const auto& extent = FChart.FValueExtents[i];
            any = extent.any;
            low = extent.low;
            high = extent.high;
        } else {
            const TReservingGraphData& points = FChart.data(index);
            const qsizetype from = points.findBegin(keys.lower, false) - points.constBegin();
            const qsizetype to = points.findEnd(keys.upper, false) - points.constBegin();
            any = points.valueExtent(from, to, low, high);
        }
        if (any)
            FLanes[i]->axis(QCPAxis::atLeft)->setRange(laneRange(low, high));
    }
}

int TChartLanes::laneAt(const QPoint& at) const
{
    for (size_t i = 0; i < FLanes.size(); ++i)
        if (FLanes[i]->visible() && FLanes[i]->rect().contains(at))
            return static_cast<int>(i);
    return -1;
}

void TChartLanes::holdValues(int index, const QCPRange& values)
{
    FLanes[static_cast<size_t>(index)]->axis(QCPAxis::atLeft)->setRange(values);
    FValuesHeld[static_cast<size_t>(index)] = true;
}

void TChartLanes::releaseValues()
{
    std::fill(FValuesHeld.begin(), FValuesHeld.end(), false);
}

void TStripChart::setLanes(bool on)
{
    if (on == lanes() || !FChart)
        return;
    if (on) {
        FLanes = new TChartLanes(*this);
    } else {
        delete FLanes;
        FLanes = nullptr;
    }
    updateRanges();
    FOverlay->update();
    replotSoon();
}

QCPAxisRect* TStripChart::laneRect(int index) const
{
    return FLanes ? FLanes->lane(index) : nullptr;
}

QRect TStripChart::plotRect() const
{
    return FLanes ? FLanes->area() : FChart->axisRect()->rect();
}

QAction* addLanesEntry(TStripChart& chart)
{
    auto* action = new QAction(QObject::tr("Split into lanes"), &chart);
    action->setObjectName(QStringLiteral("LanesItem"));
    action->setCheckable(true);
    action->setChecked(chart.lanes());
    QObject::connect(action, &QAction::toggled, &chart, [&chart](bool on) { chart.setLanes(on); });
    QObject::connect(chart.contextMenu(), &QMenu::aboutToShow, action,
                     [&chart, action] { action->setChecked(chart.lanes()); });
    chart.addMenuAction(action);
    return action;
}
