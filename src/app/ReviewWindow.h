#pragma once
#include "record/EventsLog.h"
#include "record/LogFollower.h"
#include "record/LogTimeZone.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <memory>
#include <vector>

class QCustomPlot;
class TChartBands;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QThread;
class QPushButton;
class TLogLoader;
class TStripChart;
struct TLogRun;

// A window that shows log files written earlier, several files and folders as one run (LogFilesIn,
// ReadLogRun): the value columns against the clock time placed with a time zone, in the strip
// chart the main window uses (navigation, readout, legend, saving a picture). The file is read on a worker
// thread behind a progress bar with a Cancel button; a cancelled read shows what came before. The chart
// then takes the columns one per turn of the event loop. What was
// wrong with the file (which lines, how many) is listed below the chart. The window is independent of any
// acquisition: it opens no port and reads or writes no settings.
class TReviewWindow : public QMainWindow {
    Q_OBJECT
public:
    // The files and folders named; their times placed with `zone`.
    explicit TReviewWindow(const QStringList& paths, const QTimeZone& zone = QTimeZone::systemTimeZone(),
                           QWidget* parent = nullptr);
    explicit TReviewWindow(const QString& fileName, QWidget* parent = nullptr)
        : TReviewWindow(QStringList{fileName}, QTimeZone::systemTimeZone(), parent)
    {}
    ~TReviewWindow() override;

    QString fileName() const { return FPaths.value(0); }
    QStringList paths() const { return FPaths; }
    // The chart, once the file is read (null before).
    TStripChart* chart() const { return FChart.get(); }
    bool loading() const;
    // The summary in the status bar and the lines of the report panel (empty when the file was sound).
    QString statusText() const;
    QStringList report() const;

    // Following the last file as it grows (ReviewFollow.cpp): set before loaded() to watch or poll otherwise.
    void setFollowOptions(const TLogFollower::TOptions& options) { FFollowOptions = options; }
    TLogFollower* follower() const { return FFollower; }
    // "Following run.txt" while the view follows the run; empty while it is held or nothing is followed.
    QString followNote() const;
    // The gaps (outages, the time between files), the alarm periods and the events' markers.
    TChartBands* gapBands() const { return FGapBands; }
    TChartBands* alarmBands() const { return FAlarmBands; }
    TChartBands* eventMarks() const { return FEventMarks; }

public slots:
    void cancelLoading();

signals:
    // The file is shown (all of it, or what came before a cancel).
    void loaded();
    // Lines appended to the followed file are in the chart.
    void followedLines();
    // "Export as CSV..." is done: the file written, or `error` says why not.
    void exported(const QString& fileName, const QString& error);

private:
    void showData();
    // The status bar's summary of FSummary, with the problems noted and why the run was read again.
    void updateSummary();
    void fillColumn();
    void finishLoading();

public:
    // The whole run, or the readings in the shown time range, into a CSV file (LogCsv.h), on a worker thread.
    // The name is asked with a TSaveDialog; exported() follows.
    void exportCsv(bool shownRange);

private:
    // Double-click: the chart as shown into a bitmap file.
    void savePicture();

    // ReviewFollow.cpp
    void showBandsAndEvents(const TLogRun& run);
    void readEvents(bool report);
    void startFollowing();
    void addFollowedLines(const QByteArray& appended);
    void readAgain(const QString& why);
    void updateFollowNote();
    QString writtenTimeText(double key) const;
    QStringList eventsNear(double key) const;

    QStringList FPaths;
    QTimeZone FZone;
    QCustomPlot* FPlot = nullptr;
    std::unique_ptr<TStripChart> FChart;
    TLogLoader* FLoader = nullptr;
    QLabel* FStatus = nullptr;
    QProgressBar* FProgress = nullptr;
    QPushButton* FCancel = nullptr;
    QPlainTextEdit* FReport = nullptr;
    std::unique_ptr<TLogRun> FData; // read, not yet in the chart
    std::vector<double> FKeys;      // its clock times as chart keys
    int FColumn = 0;                // the next column to put into the chart

    TChartBands* FGapBands = nullptr;
    TChartBands* FAlarmBands = nullptr;
    TChartBands* FEventMarks = nullptr;
    std::vector<TLoggedEvent> FEvents;                 // of every file, by time
    QStringList FEventFiles;                           // beside each log
    qint64 FEventsSize = -1;                           // of the last one, as last read
    std::vector<std::pair<int64_t, int32_t>> FOffsets; // from UTC ms on, the written times' offset
    TLogFollower::TOptions FFollowOptions;
    TLogFollower* FFollower = nullptr;
    QLabel* FFollowLabel = nullptr;
    QString FFollowFile;      // the last file, to follow once drawn
    int64_t FFollowLines = 0; // its lines taken so far
    int FFollowSkip = 0;      // lines of it to pass over: a kept last line whose end was still to come
    QByteArray FFollowHeader; // its first line, for the parser of its new lines
    double FLastKey = 0;      // the newest reading's key
    int64_t FSpacing = 0;     // ms, the run's median spacing: a longer step is a gap
    QString FReadAgainNote;   // why the run was read again
    struct {
        qsizetype readings = 0, files = 0;
        size_t gaps = 0;
        QDateTime first, last; // written times
        bool cancelled = false;
    } FSummary; // of what the chart shows, followed lines included
    QThread* FExport = nullptr;     // writing a CSV file
};

// Opens log files and folders in a review window of its own, which is deleted when closed.
TReviewWindow* OpenReviewWindow(const QStringList& paths, QWidget* parent = nullptr);
inline TReviewWindow* OpenReviewWindow(const QString& fileName, QWidget* parent = nullptr)
{
    return OpenReviewWindow(QStringList{fileName}, parent);
}
// Ask for log files (several may be chosen), or a folder of them, and open them in a review window; nullptr
// when the dialog was cancelled. For a slot: a failure goes to the error report.
TReviewWindow* OpenLogFileDialog(QWidget* parent);
TReviewWindow* OpenLogFolderDialog(QWidget* parent);
// "Open log file..." in the chart's right-click menu of `window`: OpenLogFileDialog(window).
void addOpenLogFileEntry(TStripChart& chart, QWidget* window);
