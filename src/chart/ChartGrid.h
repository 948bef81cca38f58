#pragma once
#include <qcustomplot.h>
#include <vector>

// Draws the grids of the given axes in their place, pixel for pixel as QCPGrid does, but lays a dotted line
// as an image of its dots instead of stroking it with a dash pattern, which costs more than the rest of a redraw when
// few points are in view. The axes' QCPGrid objects keep their settings (pens, sub grid, visibility) and are
// read at each drawing; they move to a hidden layer. Lines that are not dotted, antialiased lines and
// vector output (PDF, SVG) are drawn as QCPGrid draws them.
class TChartGrid : public QCPLayerable {
    Q_OBJECT
public:
    TChartGrid(QCustomPlot* plot, const std::vector<QCPAxis*>& axes);

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    void draw(QCPPainter* painter) override;

private:
    const QImage& dottedLine(const QColor& colour, const QSize& size) const;
    void drawLines(QCPPainter* painter, const QCPAxis* axis, const QVector<double>& ticks, qsizetype skip) const;

    std::vector<QCPAxis*> FAxes;
    // Dotted lines of the sizes and colours in use, drawn as images.
    mutable std::vector<QImage> FLines;
};
