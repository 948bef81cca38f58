#include "chart/ChartAlarmMarks.h"
#include "chart/StripChart.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QColor SpanColour(220, 0, 0, 40);
constexpr const char* SpanLayer = "grid"; // behind the lines
} // namespace

TChartAlarmMarks::TChartAlarmMarks(TStripChart& chart, QObject* parent) : QObject(parent), FChart(chart)
{
    connect(chart.chart(), &QCustomPlot::beforeReplot, this, &TChartAlarmMarks::update);
}

TChartAlarmMarks::~TChartAlarmMarks()
{
    if (QCustomPlot* plot = FChart.chart()) {
        for (const auto& line : FLines)
            if (line)
                plot->removeItem(line);
        for (const auto& rect : FRects)
            if (rect)
                plot->removeItem(rect);
    }
}

void TChartAlarmMarks::setLevels(const std::vector<TLevel>& levels)
{
    QCustomPlot* plot = FChart.chart();
    if (!plot)
        return;
    FLevels.clear();
    for (const TLevel& level : levels)
        if (level.series >= 0 && level.series < FChart.seriesCount() && std::isfinite(level.value))
            FLevels.push_back(level);
    while (FLines.size() > FLevels.size()) {
        if (FLines.back())
            plot->removeItem(FLines.back());
        FLines.pop_back();
    }
    while (FLines.size() < FLevels.size()) {
        auto* line = new QCPItemStraightLine(plot);
        line->setSelectable(false);
        line->setClipToAxisRect(true);
        FLines.emplace_back(line);
    }
    for (size_t i = 0; i < FLevels.size(); ++i) {
        QPen pen(FChart.series(FLevels[i].series)->pen().color(), 1, Qt::DashLine);
        FLines[i]->setPen(pen);
        FLines[i]->point1->setCoords(0, FLevels[i].value);
        FLines[i]->point2->setCoords(1, FLevels[i].value);
    }
    update();
    plot->replot(QCustomPlot::rpQueuedReplot);
}

int TChartAlarmMarks::levelsShown() const
{
    return static_cast<int>(
        std::count_if(FLines.begin(), FLines.end(), [](const auto& line) { return line && line->visible(); }));
}

void TChartAlarmMarks::beginSpan(double key)
{
    QCustomPlot* plot = FChart.chart();
    if (!plot || spanOpen() || !std::isfinite(key))
        return;
    FSpans.push_back({key, Infinity});
    auto* rect = new QCPItemRect(plot);
    rect->setLayer(QString::fromLatin1(SpanLayer));
    rect->setSelectable(false);
    rect->setPen(Qt::NoPen);
    rect->setBrush(SpanColour);
    rect->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
    rect->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    FRects.emplace_back(rect);
    update();
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void TChartAlarmMarks::endSpan(double key)
{
    if (!spanOpen())
        return;
    FSpans.back().to = std::max(key, FSpans.back().from);
    update();
    if (QCustomPlot* plot = FChart.chart())
        plot->replot(QCustomPlot::rpQueuedReplot);
}

void TChartAlarmMarks::clearSpans()
{
    if (QCustomPlot* plot = FChart.chart())
        for (const auto& rect : FRects)
            if (rect)
                plot->removeItem(rect);
    FRects.clear();
    FSpans.clear();
}

double TChartAlarmMarks::newestKey() const
{
    double newest = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < FChart.seriesCount(); ++i) {
        const TReservingGraphData& data = FChart.data(i);
        if (!data.isEmpty())
            newest = std::max(newest, (data.constEnd() - 1)->key);
    }
    return newest;
}

void TChartAlarmMarks::update()
{
    for (size_t i = 0; i < FLines.size(); ++i)
        if (FLines[i])
            FLines[i]->setVisible(FChart.seriesShown(FLevels[i].series));
    const double newest = spanOpen() ? newestKey() : 0;
    for (size_t i = 0; i < FRects.size() && i < FSpans.size(); ++i) {
        if (!FRects[i])
            continue;
        const TSpan& span = FSpans[i];
        const double to = span.to == Infinity ? std::max(span.from, newest) : span.to;
        FRects[i]->topLeft->setCoords(span.from, 0);
        FRects[i]->bottomRight->setCoords(to, 1);
    }
}
