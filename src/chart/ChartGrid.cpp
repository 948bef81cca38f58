#include "chart/ChartGrid.h"

#include <QImage>
#include <cmath>

namespace {
const QString HiddenLayer = QStringLiteral("grid objects");

// The sub ticks an axis set up at its last layout (QCPGrid reads them as a friend).
struct TAxisTicks : QCPAxis {
    static QVector<double> QCPAxis::*subTicks() { return &TAxisTicks::mSubTickVector; }
};

int pixelOf(double coordinate)
{
    return static_cast<int>(std::floor(std::clamp(coordinate, -1e7, 1e7)));
}
} // namespace

TChartGrid::TChartGrid(QCustomPlot* plot, const std::vector<QCPAxis*>& axes)
    : QCPLayerable(plot, QStringLiteral("grid")), FAxes(axes)
{
    if (!plot->layer(HiddenLayer)) {
        plot->addLayer(HiddenLayer, plot->layer(QStringLiteral("grid")), QCustomPlot::limBelow);
        plot->layer(HiddenLayer)->setVisible(false);
    }
    for (QCPAxis* axis : FAxes)
        axis->grid()->setLayer(HiddenLayer);
}

void TChartGrid::applyDefaultAntialiasingHint(QCPPainter* painter) const
{
    applyAntialiasingHint(painter, false, QCP::aeGrid);
}

// In QCPGrid's order: per axis the sub grid, the zero line, the grid lines but the one under the zero line.
void TChartGrid::draw(QCPPainter* painter)
{
    for (const QCPAxis* axis : FAxes) {
        const QCPGrid* grid = axis->grid();
        if (!grid->visible() || !axis->realVisibility())
            continue;
        if (axis->subTicks() && grid->subGridVisible()) {
            applyAntialiasingHint(painter, grid->antialiasedSubGrid(), QCP::aeSubGrid);
            painter->setPen(grid->subGridPen());
            drawLines(painter, axis, axis->*TAxisTicks::subTicks(), -1);
        }
        const QVector<double> ticks = axis->tickVector();
        const QCPRange range = axis->range();
        qsizetype zero = -1;
        if (grid->zeroLinePen().style() != Qt::NoPen && range.lower < 0 && range.upper > 0) {
            for (qsizetype i = 0; i < ticks.size() && zero < 0; ++i)
                if (std::abs(ticks[i]) < range.size() * 1e-6)
                    zero = i;
            if (zero >= 0) {
                applyAntialiasingHint(painter, grid->antialiasedZeroLine(), QCP::aeZeroLine);
                painter->setPen(grid->zeroLinePen());
                drawLines(painter, axis, {ticks[zero]}, -1);
            }
        }
        applyAntialiasingHint(painter, grid->antialiased(), QCP::aeGrid);
        painter->setPen(grid->pen());
        drawLines(painter, axis, ticks, zero);
    }
}

// A line across the axis rect at each coordinate but the one at `skip`: from bottom to top for a horizontal
// axis, from left to right for a vertical one.
void TChartGrid::drawLines(QCPPainter* painter, const QCPAxis* axis, const QVector<double>& ticks, qsizetype skip) const
{
    const QCPAxisRect* rect = axis->axisRect();
    const bool vertical = axis->orientation() == Qt::Horizontal;
    const QPen pen = painter->pen();
    const bool laid = pen.style() == Qt::DotLine && pen.widthF() == 0 && pen.dashOffset() == 0
                      && pen.color().alpha() == 255 && !painter->antialiasing() && painter->transform().isIdentity()
                      && !painter->modes().testFlag(QCPPainter::pmVectorized)
                      && !painter->modes().testFlag(QCPPainter::pmNonCosmetic);
    if (!laid) {
        for (qsizetype i = 0; i < ticks.size(); ++i) {
            if (i == skip)
                continue;
            const double t = axis->coordToPixel(ticks[i]);
            painter->drawLine(vertical ? QLineF(t, rect->bottom(), t, rect->top())
                                       : QLineF(rect->left(), t, rect->right(), t));
        }
        return;
    }
    // One pixel on, two off from the line's start: bottom for a vertical line, left for a horizontal one.
    const QSize size =
        vertical ? QSize(1, rect->bottom() - rect->top() + 1) : QSize(rect->right() - rect->left() + 1, 1);
    const QImage& line = dottedLine(pen.color(), size);
    for (qsizetype i = 0; i < ticks.size(); ++i) {
        if (i == skip)
            continue;
        const int at = pixelOf(axis->coordToPixel(ticks[i]));
        painter->drawImage(vertical ? QPoint(at, rect->top()) : QPoint(rect->left(), at), line);
    }
}

const QImage& TChartGrid::dottedLine(const QColor& colour, const QSize& size) const
{
    for (const QImage& line : FLines)
        if (line.size() == size && line.pixelColor(0, size.height() - 1) == colour)
            return line;
    if (FLines.size() >= 8)
        FLines.clear();
    QImage line(size, QImage::Format_ARGB32_Premultiplied);
    line.fill(Qt::transparent);
    if (size.height() == 1) {
        for (int x = 0; x < size.width(); x += 3)
            line.setPixelColor(x, 0, colour);
    } else {
        for (int y = size.height() - 1; y >= 0; y -= 3)
            line.setPixelColor(0, y, colour);
    }
    FLines.push_back(line);
    return FLines.back();
}
