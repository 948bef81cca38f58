#include "chart/ChartOverlay.h"

#include "chart/ChartNavigator.h"
#include "chart/PyramidGraph.h"
#include "chart/StatisticsDialog.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// How far the walk from a key looks for a finite value past gaps, each way.
constexpr qsizetype GapWalk = 1000;
const QString TimeFormat = QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz");

qsizetype firstNotBelow(const TReservingGraphData& points, double key)
{
    return std::lower_bound(points.constBegin(), points.constEnd(), key,
                            [](const QCPGraphData& p, double k) { return p.key < k; })
           - points.constBegin();
}

QString valueText(double value)
{
    return QString::number(value, 'g', 10);
}
} // namespace

TChartReading TStripChart::readingNear(double key) const
{
    TChartReading reading;
    if (!std::isfinite(key))
        return reading;
    double best = std::numeric_limits<double>::infinity();
    const auto consider = [&](double candidate) {
        if (std::abs(candidate - key) < best) {
            best = std::abs(candidate - key);
            reading.key = candidate;
            reading.valid = true;
        }
    };
    for (int s = 0; s < seriesCount(); ++s) {
        const TReservingGraphData& points = data(s);
        if (!seriesShown(s) || points.isEmpty())
            continue;
        const QCPGraphData* p = &*points.constBegin();
        const qsizetype count = points.size(), at = firstNotBelow(points, key);
        for (qsizetype i = at; i < std::min(count, at + GapWalk); ++i)
            if (std::isfinite(p[i].value)) {
                consider(p[i].key);
                break;
            }
        for (qsizetype i = at - 1; i >= std::max<qsizetype>(0, at - GapWalk); --i)
            if (std::isfinite(p[i].value)) {
                consider(p[i].key);
                break;
            }
    }
    if (!reading.valid)
        return reading;
    for (int s = 0; s < seriesCount(); ++s) {
        const TReservingGraphData& points = data(s);
        if (!seriesShown(s))
            continue;
        for (qsizetype i = firstNotBelow(points, reading.key); i < points.size(); ++i) {
            const QCPGraphData& p = *(points.constBegin() + i);
            if (p.key != reading.key)
                break;
            if (std::isfinite(p.value)) {
                reading.values.emplace_back(s, p.value);
                break;
            }
        }
    }
    return reading;
}

const TChartReading& TStripChart::readout() const
{
    return FOverlay->reading();
}

QString TStripChart::keyText(double key) const
{
    if (FKeyTextFormat)
        return FKeyTextFormat(key);
    const double ms = key * 1000;
    const bool datable = std::isfinite(ms) && std::abs(ms) < 8e15;
    if (FKeyAxis == TKeyAxis::ClockTime)
        return datable ? QDateTime::fromMSecsSinceEpoch(std::llround(ms)).toString(TimeFormat) : QString();
    QString text = QString::number(key, 'f', 3) + QStringLiteral(" s");
    if (FTimeOrigin.isValid() && datable)
        text += QStringLiteral(", ") + FTimeOrigin.addMSecs(std::llround(ms)).toString(TimeFormat);
    return text;
}

TChartOverlay::TChartOverlay(TStripChart& chart) : QCPLayerable(chart.chart(), LayerName), FChart(chart) {}

void TChartOverlay::update()
{
    const TChartNavigator* navigator = FChart.FNavigator;
    if (!navigator || !navigator->pointerInPlot()) {
        FReading = {};
        return;
    }
    FReading = FChart.readingNear(mParentPlot->xAxis->pixelToCoord(navigator->pointer().x()));
}

void TChartOverlay::redraw()
{
    update();
    layer()->replot();
}

void TChartOverlay::applyDefaultAntialiasingHint(QCPPainter* painter) const
{
    applyAntialiasingHint(painter, false, QCP::aeItems);
}

QRect TChartOverlay::clipRect() const
{
    return FChart.plotRect();
}

void TChartOverlay::draw(QCPPainter* painter)
{
    update(); // the axes may have moved under the pointer
    const QRect plot = clipRect();
    if (FChart.view() == TStripChart::TView::Held)
        drawHeldNote(painter, plot);
    // The range whose statistics are open.
    const auto* statistics = mParentPlot->findChild<TStatisticsDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (statistics && statistics->isVisible()) {
        const double from = mParentPlot->xAxis->coordToPixel(statistics->statistics().from);
        const double to = mParentPlot->xAxis->coordToPixel(statistics->statistics().to);
        const QRectF band = QRectF(QPointF(std::clamp(from, plot.left() - 1.0, plot.right() + 1.0), plot.top()),
                                   QPointF(std::clamp(to, plot.left() - 1.0, plot.right() + 1.0), plot.bottom()));
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 160, 0, 28));
        painter->drawRect(band.normalized());
    }
    if (const TChartNavigator* navigator = FChart.FNavigator; navigator && !navigator->zoomRect().isEmpty()) {
        painter->setPen(QPen(Qt::darkGray, 0, Qt::DashLine));
        painter->setBrush(QColor(0, 0, 255, 24));
        painter->drawRect(navigator->zoomRect());
    }
    if (FReading.valid)
        drawReadout(painter, plot);
}

void TChartOverlay::drawHeldNote(QCPPainter* painter, const QRect& plot)
{
    QFont font = mParentPlot->font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    QRect box(0, 0, metrics.horizontalAdvance(HeldNote) + 12, metrics.height() + 6);
    const auto draw = [&](QPainter* on, const QRect& at) {
        on->setPen(QPen(QColor(160, 120, 0), 0));
        on->setBrush(QColor(255, 243, 176));
        on->drawRect(at.adjusted(0, 0, -1, -1));
        on->setFont(font);
        on->setPen(Qt::black);
        on->drawText(at, Qt::AlignCenter, HeldNote);
    };
    box.moveTopRight(plot.topRight() + QPoint(-6, 6));
    // Laid out once and kept as a picture, but drawn as it is into saved pictures.
    const qreal ratio = painter->device()->devicePixelRatioF();
    if (painter->modes().testFlag(QCPPainter::pmNoCaching) || !painter->transform().isIdentity()) {
        draw(painter, box);
        return;
    }
    if (FNote.isNull() || FNoteFont != font || FNote.devicePixelRatio() != ratio) {
        FNote = QPixmap(box.size() * ratio);
        FNote.setDevicePixelRatio(ratio);
        FNote.fill(Qt::transparent);
        QPainter on(&FNote);
        draw(&on, QRect(QPoint(), box.size()));
        FNoteFont = font;
    }
    painter->drawPixmap(box.topLeft(), FNote);
}

void TChartOverlay::drawReadout(QCPPainter* painter, const QRect& plot) const
{
    const QCustomPlot* plotWidget = mParentPlot;
    const QPoint pointer = FChart.FNavigator->pointer();
    const double x = plotWidget->xAxis->coordToPixel(FReading.key);
    painter->setPen(QPen(QColor(90, 90, 90), 0, Qt::DashLine));
    painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    painter->drawLine(QPointF(plot.left(), pointer.y()), QPointF(plot.right(), pointer.y()));
    for (const auto& [series, value] : FReading.values) {
        painter->setPen(QPen(FChart.series(series)->pen().color().darker(120), 0));
        painter->setBrush(Qt::white);
        painter->drawEllipse(QPointF(x, FChart.series(series)->valueAxis()->coordToPixel(value)), 3, 3);
    }

    // The box: the time, then a swatch, title and value per series.
    const QFont font = plotWidget->font();
    const QFontMetrics metrics(font);
    const int line = metrics.height(), swatch = 14, pad = 5;
    QStringList texts{FChart.keyText(FReading.key)};
    int width = metrics.horizontalAdvance(texts[0]);
    for (const auto& [series, value] : FReading.values) {
        texts << FChart.seriesTitleAt(series, FReading.key) + QStringLiteral(": ") + valueText(value);
        width = std::max(width, swatch + 4 + metrics.horizontalAdvance(texts.back()));
    }
    const QStringList notes = FChart.readoutNotes(FReading.key);
    for (const QString& note : notes)
        width = std::max(width, metrics.horizontalAdvance(note));
    QRect box(0, 0, width + 2 * pad, line * static_cast<int>(texts.size() + notes.size()) + 2 * pad);
    box.moveTopLeft(pointer + QPoint(14, 14));
    if (box.right() > plot.right())
        box.moveRight(pointer.x() - 14);
    if (box.bottom() > plot.bottom())
        box.moveBottom(pointer.y() - 14);
    painter->setPen(QPen(QColor(120, 120, 120), 0));
    painter->setBrush(QColor(255, 255, 255, 235));
    painter->drawRect(box);
    painter->setFont(font);
    painter->setPen(Qt::black);
    painter->drawText(QRect(box.left() + pad, box.top() + pad, width, line), Qt::AlignLeft | Qt::AlignVCenter,
                      texts[0]);
    for (size_t i = 0; i < FReading.values.size(); ++i) {
        const int top = box.top() + pad + line * static_cast<int>(i + 1);
        painter->setPen(QPen(FChart.series(FReading.values[i].first)->pen().color(), 2));
        painter->drawLine(QLineF(box.left() + pad, top + line / 2, box.left() + pad + swatch, top + line / 2));
        painter->setPen(Qt::black);
        painter->drawText(QRect(box.left() + pad + swatch + 4, top, width, line), Qt::AlignLeft | Qt::AlignVCenter,
                          texts[static_cast<qsizetype>(i + 1)]);
    }
    for (qsizetype i = 0; i < notes.size(); ++i) {
        const int top = box.top() + pad + line * static_cast<int>(texts.size() + i);
        painter->drawText(QRect(box.left() + pad, top, width, line), Qt::AlignLeft | Qt::AlignVCenter, notes[i]);
    }
}
