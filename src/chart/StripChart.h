#pragma once
#include "chart/ChartSeriesData.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <span>
#include <vector>

class QAction;
class QMenu;
class TPyramidGraph;
class TChartNavigator;
class TChartOverlay;
class TChartLanes;
struct TRangeStatistics;

// One reading as the readout shows it: its key and the values of the shown series that have a point there.
struct TChartReading {
    double key = 0;
    std::vector<std::pair<int, double>> values; // series index, value
    bool valid = false;
};

// The strip chart on a QCustomPlot: title, legend below the plot, axis titles and grids, line series
// (six by default, Series1..Series6 with their colours). Each series draws per pixel column from a min/max
// pyramid over its points (TPyramidGraph), so a redraw costs what the chart's width costs, however long
// the run.
//
// Until the operator touches it the chart shows the whole run: both axes follow every point. The operator
// navigates it with the mouse and the keyboard (TChartNavigator): the wheel zooms the key axis around the
// pointer, Shift+wheel the value axis; a left drag pans, a Ctrl+left drag zooms to a rectangle; + and -
// zoom, the arrow keys pan, Home or Escape show the whole run again. The right-click menu holds the views,
// "Reset view", "Save picture as..." and what the window adds (addMenuAction). While the pointer is over
// the plot a readout shows the nearest reading: its time and the value of each shown series. A Shift+drag
// marks a range of keys and shows the statistics of each series over it. Clicking a
// legend entry hides or shows its series; a hidden series is dimmed in the legend, left out of the readout
// and of the value axis' scaling. A double-click off the legend is left to the window (doubleClicked).
//
// Use in a window that reviews a log file:
//     TStripChart chart(plot, 8);                      // eight columns
//     chart.setKeyAxis(TStripChart::TKeyAxis::ClockTime);
//     chart.reserve(lines);                            // optional: room for every point at once
//     chart.addSeriesPoints(s, points);                // per series, in chunks or at once; NaN values break lines
class TStripChart : public QObject {
    Q_OBJECT
public:
    static constexpr int SeriesCount = 6;

    // What the keys are: seconds since the time origin (the live run), or clock time as seconds since
    // 1970-01-01 00:00 UTC, labelled with local dates and times (dd/mm/yyyy hh:mm:ss).
    enum class TKeyAxis { ElapsedSeconds, ClockTime };
    // Whole run: both axes follow every point. Last: a key window of lastSpan() seconds ending at the newest
    // point, the value axis scaled to what it shows. Held: the operator's ranges; new points do not move them.
    enum class TView { WholeRun, Last, Held };
    // The widths the menu offers for TView::Last, in seconds.
    static constexpr double LastSpans[] = {60, 600, 3600, 6 * 3600, 24 * 3600};

    // `seriesCount` line series are added to `chart`; the chart is not owned.
    explicit TStripChart(QCustomPlot* chart, int seriesCount = SeriesCount, QObject* parent = nullptr);
    ~TStripChart() override;

    QCustomPlot* chart() const { return FChart; }
    int seriesCount() const { return static_cast<int>(FSeries.size()); }
    QCPGraph* series(int index) const;
    TReservingGraphData& data(int index) const;
    // The series' title, for all its readings.
    void setSeriesTitle(int index, const QString& title);
    // The series' title for its readings from `fromKey` on (what the series holds changed there): the legend
    // shows it, the readout names earlier readings by the titles they had.
    void setSeriesTitle(int index, const QString& title, double fromKey);
    // The title of the series' reading at `key`.
    QString seriesTitleAt(int index, double key) const;

    // Keys, labels and readout: elapsed seconds (the default) or clock time.
    void setKeyAxis(TKeyAxis kind);
    TKeyAxis keyAxis() const { return FKeyAxis; }
    // The clock time of key 0 in ElapsedSeconds mode, for the readout.
    void setTimeOrigin(const QDateTime& origin) { FTimeOrigin = origin; }
    const QDateTime& timeOrigin() const { return FTimeOrigin; }

    // Adds (x, values[i]) to the first values.size() series and schedules a redraw.
    void addPoints(double x, std::span<const double> values);
    // Appends many points to one series at once (a log file being read): the pyramid is brought up to date
    // and the axes follow once per call, and one redraw is scheduled. Points with a key that is not finite
    // are left out; points out of key order are sorted in; a NaN value breaks the line there.
    void addSeriesPoints(int index, std::span<const QCPGraphData> points);
    // Room for `pointsPerSeries` points in every series, so that adding up to that count does not allocate.
    void reserve(qsizetype pointsPerSeries);
    // Breaks the line of every series that has points at x (an outage): the points before and after x are
    // not joined. Stored as a point at x with a quiet NaN value; the axes' ranges ignore it.
    void addGap(double x);
    // Removes every point of every series, first to last, and shows the whole run again.
    void clear();

    // Renders the chart as shown into a BMP file; raises std::runtime_error when it cannot be written.
    void saveBitmap(const QString& fileName) const;
    // Renders the chart at its size on the screen into a PNG (at the screen's pixel ratio), PDF or SVG file, by
    // the name's extension (PNG when there is none of these), without the readout and the held note; raises
    // std::runtime_error when it cannot be written.
    void savePicture(const QString& fileName) const;
    // Asks for the file name of "Save picture as..." (empty: cancelled); by default a file dialog.
    void setPictureFileChooser(std::function<QString()> chooser) { FPictureFileChooser = std::move(chooser); }

    // The view; each change emits viewChanged.
    TView view() const { return FView; }
    double lastSpan() const { return FLastSpan; }
    void showWholeRun();
    void showLast(double seconds);
    // Holds the given ranges (a zoom or a pan). Ranges that are not finite or narrower than the axes can
    // resolve are refused: the view stays as it was.
    void hold(const QCPRange& keys, const QCPRange& values);
    // Back to the view followed before it was held: the whole run, or the last span chosen.
    void resetView();

    // Hidden series are not drawn, not read out and not scaled to; their legend entries are dimmed.
    void setSeriesShown(int index, bool shown);
    bool seriesShown(int index) const;

    // The nearest reading to `key` of the shown series (gaps and values that are not finite skipped), and
    // the value of each shown series that has a point at its key.
    TChartReading readingNear(double key) const;
    // What the readout shows now (not valid while the pointer is not over the plot).
    const TChartReading& readout() const;
    // The time of a key as the readout writes it: "12.345 s, 05/03/2012 14:07:09.042" (elapsed seconds, and
    // the clock time when there is a time origin), or the clock time alone.
    QString keyText(double key) const;
    // How keyText writes a key instead (the written time and its offset, say); none: as above.
    void setKeyTextFormat(std::function<QString(double key)> format) { FKeyTextFormat = std::move(format); }
    // Lines the readout adds below the values of the reading at a key (the events there); none by default.
    void setReadoutNotes(std::function<QStringList(double key)> notes) { FReadoutNotes = std::move(notes); }
    QStringList readoutNotes(double key) const { return FReadoutNotes ? FReadoutNotes(key) : QStringList(); }

    // Lanes (ChartLanes.cpp): each series on a value axis of its own in a lane of the plot, the lanes stacked
    // over one time axis at the bottom. The lanes of hidden series are left out and the shown ones share the
    // height. With lanes, zoom and pan move the time axis of every lane and each value axis fits what its lane
    // shows.
    void setLanes(bool on);
    bool lanes() const { return FLanes != nullptr; }
    // The lane of a series (null without lanes).
    QCPAxisRect* laneRect(int index) const;
    // Where the series are drawn, in widget pixels: the plot, or the lanes shown.
    QRect plotRect() const;

    // The statistics of every series, shown or hidden, over keys [from, to] (ChartStatistics.h).
    TRangeStatistics rangeStatistics(double from, double to) const;
    // Shows them in the chart's statistics window (TStatisticsDialog), opened on first use. A Shift+drag
    // across the plot and the menu's "Statistics of a range..." (the range shown) call it.
    void showRangeStatistics(double from, double to);

    // The right-click menu (built on first use).
    QMenu* contextMenu();
    // Adds an entry at the end of the right-click menu, after the chart's own: what the window showing the
    // chart offers beside it ("Open log file..."). The caller owns the action.
    void addMenuAction(QAction* action);

signals:
    void viewChanged();
    // A double-click on the chart but not on its legend, whose entries take clicks of their own.
    void doubleClicked();
    // Something the operator asked for failed (a picture that could not be saved). Without a receiver the
    // chart shows the text in a message box.
    void problem(const QString& text);

private:
    friend class TChartNavigator;
    friend class TChartOverlay;
    friend class TChartLanes;

    struct TExtent {
        double low = 0, high = 0;
        bool any = false;
        void take(double value);
    };
    void updateRanges();
    void setView(TView view);
    void replotSoon() const;
    void savePictureAsked();
    void reportProblem(const QString& text);

    QPointer<QCustomPlot> FChart;
    std::vector<TPyramidGraph*> FSeries;
    std::vector<TExtent> FValueExtents; // per series, of its finite values
    // Per series its titles, each with the key from which it holds, in key order; the first from -infinity.
    std::vector<std::vector<std::pair<double, QString>>> FTitles;
    TExtent FKeyExtent; // of every point
    TKeyAxis FKeyAxis = TKeyAxis::ElapsedSeconds;
    QDateTime FTimeOrigin;
    TView FView = TView::WholeRun;
    TView FFollowed = TView::WholeRun; // what resetView returns to
    double FLastSpan = LastSpans[0];
    std::function<QString()> FPictureFileChooser;
    std::function<QString(double)> FKeyTextFormat;
    std::function<QStringList(double)> FReadoutNotes;
    QMenu* FMenu = nullptr;
    TChartNavigator* FNavigator = nullptr;
    TChartOverlay* FOverlay = nullptr;
    TChartLanes* FLanes = nullptr;
};
