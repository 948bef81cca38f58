// The strip chart over clock time, filled at once: what a window showing a finished run needs.
#include "chart/PyramidGraph.h"
#include "chart/StripChart.h"

#include <algorithm>
#include <cmath>

void TStripChart::setClockTimeAxis()
{
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::UTC); // the keys are the clock's own readings: no zone to apply
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss\ndd/MM/yyyy"));
    FChart->xAxis->setTicker(ticker);
    FChart->xAxis->setLabel(QStringLiteral("Clock Time"));
    FChart->replot(QCustomPlot::rpQueuedReplot);
}

void TStripChart::setPoints(int index, QVector<QCPGraphData> points)
{
    for (const QCPGraphData& p : points) {
        if (!std::isfinite(p.value))
            continue;
        FMinY = FHasY ? std::min(FMinY, p.value) : p.value;
        FMaxY = FHasY ? std::max(FMaxY, p.value) : p.value;
        FHasY = true;
    }
    if (!points.isEmpty()) {
        FMinX = FHasX ? std::min(FMinX, points.constFirst().key) : points.constFirst().key;
        FMaxX = FHasX ? std::max(FMaxX, points.constLast().key) : points.constLast().key;
        FHasX = true;
    }
    data(index).set(points, true);
    updateRanges();
    FChart->replot(QCustomPlot::rpQueuedReplot);
}
