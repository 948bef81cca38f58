#pragma once
#include "chart/StripChart.h"

#include <qcustomplot.h>

// What a strip chart draws over its plot, on a layer of its own above every other: the note that the view is
// held, the rectangle of a Ctrl+drag under way, the range whose statistics are open, and the readout of the reading
// nearest the pointer (a line at its key, a dot on each shown series and a box with its time and the series' titles and
// values).
class TChartOverlay : public QCPLayerable {
    Q_OBJECT
public:
    static inline const QString LayerName = QStringLiteral("readout");
    static inline const QString HeldNote = QStringLiteral("View held: Home to follow the run");

    explicit TChartOverlay(TStripChart& chart);

    // Takes the reading under the pointer again (after the pointer or the axes moved).
    void update();
    // update, then draws this layer again: alone when it has a paint buffer of its own.
    void redraw();
    const TChartReading& reading() const { return FReading; }

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    void draw(QCPPainter* painter) override;
    QRect clipRect() const override;

private:
    void drawHeldNote(QCPPainter* painter, const QRect& plot);
    void drawReadout(QCPPainter* painter, const QRect& plot) const;

    TStripChart& FChart;
    TChartReading FReading;
    QPixmap FNote; // the held note, laid out
    QFont FNoteFont;
};
