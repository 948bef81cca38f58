#include "chart/PyramidGraph.h"

#include "chart/ColumnBorders.h"

#include <algorithm>

TPyramidGraph::TPyramidGraph(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPGraph(keyAxis, valueAxis), FPoints(new TReservingGraphData)
{
    setData(FPoints.staticCast<QCPGraphDataContainer>());
    setAdaptiveSampling(true);
}

bool TPyramidGraph::drawsFromPyramid() const
{
    const QCPAxis* keyAxis = mKeyAxis.data();
    return mAdaptiveSampling && mLineStyle == lsLine && mDataContainer == FPoints && keyAxis
           && keyAxis->orientation() == Qt::Horizontal && keyAxis->scaleType() == QCPAxis::stLinear
           && !keyAxis->rangeReversed();
}

void TPyramidGraph::draw(QCPPainter* painter)
{
    // Antialiased drawing is moved by half a pixel, and lines drawn one by one (fast polylines) have
    // their ends rounded to whole pixels: either way a column spans half a pixel either side of a whole
    // plot pixel. Polylines drawn without antialiasing have their columns from one whole pixel to the next.
    const bool polyline = !mParentPlot->plottingHints().testFlag(QCP::phFastPolylines)
                          || painter->modes().testFlag(QCPPainter::pmNoCaching);
    FColumnShift = painter->antialiasing() || !polyline ? 0.5 : 0.0;
    const QCPAxis* valueAxis = mValueAxis.data();
    const bool plain = drawsFromPyramid() && valueAxis && valueAxis->orientation() == Qt::Vertical
                       && valueAxis->scaleType() == QCPAxis::stLinear && !valueAxis->rangeReversed()
                       && selection().isEmpty() && mBrush.style() == Qt::NoBrush && mScatterStyle.isNone();
    if (!plain) {
        QCPGraph::draw(painter);
        return;
    }
    // A line and nothing else, as QCPGraph draws it, with the axes' arithmetic inline. The reduced points and
    // their pixels are kept for the next drawing, which takes them again only when what they come from changed.
    if (mKeyAxis->range().size() <= 0 || mDataContainer->isEmpty())
        return;
    FPoints->pyramid(); // brings the points' version up to date
    QCPGraphDataContainer::const_iterator begin, end;
    getVisibleDataBounds(begin, end, QCPDataRange(0, dataCount()));
    if (begin == end)
        return;
    const QCPAxisRect* keyRect = mKeyAxis->axisRect();
    const QCPAxisRect* valueRect = valueAxis->axisRect();
    const QCPRange keys = mKeyAxis->range(), values = valueAxis->range();
    const auto first = mDataContainer->constBegin();
    const TLineKey lineKey{keys.lower,       keys.upper,    FColumnShift, keyRect->left(),
                           keyRect->width(), begin - first, end - first,  FPoints->version()};
    if (!(lineKey == FLineKey)) {
        getOptimizedLineData(&FLineData, begin, end);
        FLineKey = lineKey;
        FPixelKey = {};
    }
    const TPixelKey pixelKey{values.lower, values.upper, valueRect->bottom(), valueRect->height(), true};
    if (!(pixelKey == FPixelKey)) {
        FLines.resize(FLineData.size());
        QPointF* line = FLines.data();
        for (const QCPGraphData& point : std::as_const(FLineData)) {
            // QCPAxis::coordToPixel of a horizontal and a vertical linear axis, operation for operation.
            line->setX((point.key - keys.lower) / keys.size() * keyRect->width() + keyRect->left());
            line->setY(valueRect->bottom() - (point.value - values.lower) / values.size() * valueRect->height());
            ++line;
        }
        FPixelKey = pixelKey;
    }
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    drawLinePlot(painter, FLines);
}

void TPyramidGraph::getOptimizedLineData(QVector<QCPGraphData>* lineData,
                                         const QCPGraphDataContainer::const_iterator& begin,
                                         const QCPGraphDataContainer::const_iterator& end) const
{
    if (!lineData)
        return;
    if (!drawsFromPyramid()) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        return;
    }
    const QCPAxis* keyAxis = mKeyAxis.data();
    const QRect rect = keyAxis->axisRect()->rect();
    const qsizetype columns = std::max(rect.width(), 1);
    lineData->clear();
    // Up to four points a column come out of the reduction: fewer points are drawn as they are.
    if (end - begin <= 4 * columns) {
        lineData->reserve(end - begin);
        std::copy(begin, end, std::back_inserter(*lineData));
        return;
    }
    const TKeyToPixel map{keyAxis->range().lower, keyAxis->range().size(), double(rect.width()), double(rect.left()),
                          FColumnShift};
    lineData->reserve(4 * columns + 16);
    const auto first = mDataContainer->constBegin();
    const QCPGraphData* points = &*first;
    const qsizetype from = begin - first, to = end - first;
    TColumnReducer reducer(points, FPoints->pyramid(), map, *lineData);
    // The graphs on this key axis mostly share their keys: the first to draw finds the column borders, the
    // others take them, checked.
    TColumnBorders& borders = TSharedColumnBorders::of(mKeyAxis.data());
    if (!borders.foundFor(map, from, to) || !reducer.reduceSpans(borders.spans())) {
        borders.find(points, from, to, map);
        reducer.reduceSpans(borders.spans());
    }
}
