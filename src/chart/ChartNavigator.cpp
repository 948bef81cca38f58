#include "chart/ChartNavigator.h"

#include "chart/ChartOverlay.h"
#include "chart/ChartLanes.h"
#include "chart/StripChart.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>

namespace {
// A press that moves this far (Manhattan length, pixels) starts a drag; less stays a click.
constexpr int DragThreshold = 3;

QCPRange scaled(const QCPRange& range, double factor, double centre)
{
    return QCPRange(centre + (range.lower - centre) * factor, centre + (range.upper - centre) * factor);
}

QCPRange shifted(const QCPRange& range, double by)
{
    return QCPRange(range.lower + by, range.upper + by);
}
} // namespace

TChartNavigator::TChartNavigator(TStripChart& chart) : QObject(&chart), FChart(chart), FPlot(chart.chart())
{
    FPlot->setMouseTracking(true);
    FPlot->installEventFilter(this);
}

QRect TChartNavigator::plotRect() const
{
    return FChart.plotRect();
}

bool TChartNavigator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FPlot)
        return false;
    switch (event->type()) {
    case QEvent::Wheel: return wheel(static_cast<QWheelEvent*>(event));
    case QEvent::MouseButtonPress: press(static_cast<QMouseEvent*>(event)); return false;
    case QEvent::MouseMove: move(static_cast<QMouseEvent*>(event)); return false;
    case QEvent::MouseButtonRelease: release(static_cast<QMouseEvent*>(event)); return false;
    case QEvent::KeyPress: return key(static_cast<QKeyEvent*>(event));
    case QEvent::Leave:
    case QEvent::Hide: follow(QPoint(), false); return false;
    case QEvent::ContextMenu:
        FChart.contextMenu()->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    default: return false;
    }
}

bool TChartNavigator::wheel(QWheelEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (!plotRect().contains(at))
        return false;
    // Shift turns the wheel sideways on some systems.
    const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    if (delta != 0) {
        const double factor = std::pow(ZoomStep, delta / 120.0);
        QCPRange keys = FPlot->xAxis->range(), values = FPlot->yAxis->range();
        if (event->modifiers().testFlag(Qt::ShiftModifier)) {
            if (FChart.FLanes) { // the lane under the pointer
                const int lane = FChart.FLanes->laneAt(at);
                if (lane >= 0) {
                    const QCPAxis* axis = FChart.laneRect(lane)->axis(QCPAxis::atLeft);
                    FChart.FLanes->holdValues(lane, scaled(axis->range(), factor, axis->pixelToCoord(at.y())));
                }
            } else {
                values = scaled(values, factor, FPlot->yAxis->pixelToCoord(at.y()));
            }
        } else
            keys = scaled(keys, factor, FPlot->xAxis->pixelToCoord(at.x()));
        FChart.hold(keys, values);
    }
    event->accept();
    return true;
}

void TChartNavigator::press(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !plotRect().contains(at))
        return;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    FDrag = modifiers.testFlag(Qt::ShiftModifier)     ? TDrag::Range
            : modifiers.testFlag(Qt::ControlModifier) ? TDrag::Zoom
                                                      : TDrag::Pan;
    FDragging = false;
    FPressPos = at;
    FPressKeys = FPlot->xAxis->range();
    FPressValues = FPlot->yAxis->range();
}

void TChartNavigator::move(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (FDrag != TDrag::None && event->buttons().testFlag(Qt::LeftButton)) {
        if (!FDragging && (at - FPressPos).manhattanLength() <= DragThreshold)
            return;
        FDragging = true;
        const QRect plot = plotRect();
        if (FDrag == TDrag::Pan) {
            const double keys = (at.x() - FPressPos.x()) * FPressKeys.size() / std::max(plot.width(), 1);
            // With lanes the value axes fit what they show: a drag moves the time alone.
            const double values =
                FChart.lanes() ? 0 : (at.y() - FPressPos.y()) * FPressValues.size() / std::max(plot.height(), 1);
            FChart.hold(shifted(FPressKeys, -keys), shifted(FPressValues, values));
        } else if (FDrag == TDrag::Range) {
            FZoomRect = QRect(QPoint(FPressPos.x(), plot.top()), QPoint(at.x(), plot.bottom())).normalized() & plot;
            FChart.FOverlay->redraw();
        } else {
            FZoomRect = QRect(FPressPos, at).normalized() & plot;
            FChart.FOverlay->redraw();
        }
        return;
    }
    follow(at, plotRect().contains(at));
}

void TChartNavigator::release(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FDrag == TDrag::None)
        return;
    const TDrag drag = FDrag;
    FDrag = TDrag::None;
    if (drag == TDrag::Pan || !FDragging)
        return;
    const QRect rect = FZoomRect;
    FZoomRect = QRect();
    const QCPRange keys(FPlot->xAxis->pixelToCoord(rect.left()), FPlot->xAxis->pixelToCoord(rect.right()));
    if (drag == TDrag::Range) {
        FChart.FOverlay->redraw();
        if (rect.width() > DragThreshold)
            FChart.showRangeStatistics(keys.lower, keys.upper);
    } else if (rect.width() > DragThreshold && rect.height() > DragThreshold) {
        FChart.hold(keys, FChart.lanes() ? FPlot->yAxis->range()
                                         : QCPRange(FPlot->yAxis->pixelToCoord(rect.bottom()),
                                                    FPlot->yAxis->pixelToCoord(rect.top())));
    } else {
        FChart.FOverlay->redraw();
    }
}

bool TChartNavigator::key(QKeyEvent* event)
{
    const QCPRange keys = FPlot->xAxis->range(), values = FPlot->yAxis->range();
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: // + without Shift
        FChart.hold(scaled(keys, ZoomStep, keys.center()), values);
        break;
    case Qt::Key_Minus: FChart.hold(scaled(keys, 1 / ZoomStep, keys.center()), values); break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        FChart.hold(shifted(keys, (event->key() == Qt::Key_Left ? -PanStep : PanStep) * keys.size()), values);
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        FChart.hold(keys, shifted(values, (event->key() == Qt::Key_Down ? -PanStep : PanStep) * values.size()));
        break;
    case Qt::Key_Home:
    case Qt::Key_Escape: FChart.showWholeRun(); break;
    default: return false;
    }
    event->accept();
    return true;
}

// The readout follows the pointer over the plot; its layer is buffered for as long as it shows.
void TChartNavigator::follow(const QPoint& pointer, bool inPlot)
{
    const bool was = FInPlot;
    FInPlot = inPlot;
    FPointer = pointer;
    QCPLayer* layer = FPlot->layer(TChartOverlay::LayerName);
    if (inPlot != was) {
        layer->setMode(inPlot ? QCPLayer::lmBuffered : QCPLayer::lmLogical);
        FChart.FOverlay->update();
        FPlot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    if (inPlot)
        FChart.FOverlay->redraw();
}
