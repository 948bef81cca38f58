#pragma once
#include <QPixmap>
#include <qcustomplot.h>

// Legend entry and title of the strip chart. Both measure and lay out their text once, not at every
// redraw: the size they ask for is kept until the text or the font changes, and their picture is kept
// (like QCustomPlot's tick labels with QCP::phCacheLabels) until anything it shows changes. Saved pictures
// and charts without label caching draw them directly.

// A legend entry that is dimmed while its series is hidden.
class TSeriesLegendItem : public QCPPlottableLegendItem {
    Q_OBJECT
public:
    TSeriesLegendItem(QCPLegend* legend, QCPAbstractPlottable* plottable);

protected:
    void draw(QCPPainter* painter) override;
    QSize minimumOuterSizeHint() const override;

private:
    // What the size and the picture depend on.
    struct TLook {
        QString name;
        QFont font;
        QSize icon;
        int padding = 0;
        QMargins margins;
        QSize size;
        QRgb text = 0;
        QPen pen, border;
        int lineStyle = 0, antialiased = 0, notAntialiased = 0;
        bool antialiasedItem = false;
        bool operator==(const TLook&) const = default;
    };
    TLook hintLook() const;
    void drawDirectly(QCPPainter* painter);

    mutable TLook FHintLook;
    mutable QSize FHint;
    TLook FPictureLook;
    QPixmap FPicture;
};

// The title above the plot.
class TChartTitle : public QCPTextElement {
    Q_OBJECT
public:
    TChartTitle(QCustomPlot* plot, const QString& text);

protected:
    void draw(QCPPainter* painter) override;
    QSize minimumOuterSizeHint() const override;
    QSize maximumOuterSizeHint() const override;

private:
    struct TLook {
        QString text;
        QFont font;
        QRgb colour = 0;
        int flags = 0;
        QSize size;
        bool operator==(const TLook&) const = default;
    };
    QSize textSize() const;

    mutable TLook FSizeLook;
    mutable QSize FSize;
    TLook FPictureLook;
    QPixmap FPicture;
};
