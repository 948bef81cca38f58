#pragma once
#include <QObject>
#include <QPoint>
#include <QRect>
#include <qcustomplot.h>

class TStripChart;

// The mouse and keyboard of a strip chart, watched on its QCustomPlot: the wheel over the plot zooms the
// key axis around the pointer (Shift: the value axis), a left drag pans both axes, a Ctrl+left drag zooms
// to the rectangle drawn, a Shift+left drag marks a range of keys for its statistics; + and - zoom the key axis around
// its middle, the arrow keys pan by a tenth, Home and Escape show the whole run. Each of these holds the view
// (TStripChart::hold) except the last. The right button opens the chart's menu. While the pointer is over the plot it
// is followed for the readout, and the readout's layer has a paint buffer of its own, so that following it redraws only
// that layer. Clicks and double-clicks go on to QCustomPlot (legend clicks, the window's double-click).
class TChartNavigator : public QObject {
    Q_OBJECT
public:
    // The zoom of one wheel step (120 units) or one + key: the range shrinks to this part.
    static constexpr double ZoomStep = 0.85;
    // The pan of one arrow key: this part of the range.
    static constexpr double PanStep = 0.1;

    explicit TChartNavigator(TStripChart& chart);

    // The pointer, while it is over the plot.
    bool pointerInPlot() const { return FInPlot; }
    QPoint pointer() const { return FPointer; }
    // The rectangle of a Ctrl+drag or the band of a Shift+drag under way (empty: none), in widget pixels.
    QRect zoomRect() const { return FZoomRect; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class TDrag { None, Pan, Zoom, Range };
    bool wheel(QWheelEvent* event);
    void press(QMouseEvent* event);
    void move(QMouseEvent* event);
    void release(QMouseEvent* event);
    bool key(QKeyEvent* event);
    void follow(const QPoint& pointer, bool inPlot);
    QRect plotRect() const;

    TStripChart& FChart;
    QCustomPlot* FPlot;
    bool FInPlot = false;
    QPoint FPointer;
    TDrag FDrag = TDrag::None;
    bool FDragging = false;
    QPoint FPressPos;
    QCPRange FPressKeys, FPressValues;
    QRect FZoomRect;
};
