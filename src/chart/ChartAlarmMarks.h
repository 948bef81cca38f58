#pragma once
#include <QObject>
#include <QPointer>
#include <limits>
#include <vector>

class QCPItemRect;
class QCPItemStraightLine;
class TStripChart;

// Alarm marks on a strip chart: each level a dashed horizontal line in its series' colour, drawn while that
// series is shown, and the spans of time during which an alarm was on, shaded behind the lines. Levels are
// in the series' values (any factor the series applies already applied); spans in keys. An open span reaches
// the newest point of the chart.
//
//   TChartAlarmMarks marks(chart);
//   marks.setLevels({{2, 100.0}});   // series 2 at 100
//   marks.beginSpan(x);  ...  marks.endSpan(x2);
class TChartAlarmMarks : public QObject {
    Q_OBJECT
public:
    struct TLevel {
        int series = 0;
        double value = 0;
    };
    struct TSpan {
        double from = 0;
        double to = 0; // +infinity while open
    };

    explicit TChartAlarmMarks(TStripChart& chart, QObject* parent = nullptr);
    ~TChartAlarmMarks() override;

    void setLevels(const std::vector<TLevel>& levels);
    const std::vector<TLevel>& levels() const { return FLevels; }
    // Levels drawn now: those of shown series.
    int levelsShown() const;

    // A span opens at `key` (nothing when one is open) and closes at `key` (nothing when none is open).
    void beginSpan(double key);
    void endSpan(double key);
    bool spanOpen() const { return !FSpans.empty() && FSpans.back().to == Infinity; }
    const std::vector<TSpan>& spans() const { return FSpans; }
    // The chart was cleared: no spans.
    void clearSpans();

private:
    static constexpr double Infinity = std::numeric_limits<double>::infinity();
    // Brings the items' places and visibility up to date before each replot.
    void update();
    double newestKey() const;

    TStripChart& FChart;
    std::vector<TLevel> FLevels;
    std::vector<TSpan> FSpans;
    std::vector<QPointer<QCPItemStraightLine>> FLines;
    std::vector<QPointer<QCPItemRect>> FRects;
};
