#pragma once
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <memory>
#include <vector>

class QCustomPlot;
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

public slots:
    void cancelLoading();

signals:
    // The file is shown (all of it, or what came before a cancel).
    void loaded();
    // "Export as CSV..." is done: the file written, or `error` says why not.
    void exported(const QString& fileName, const QString& error);

private:
    void showData();
    void fillColumn();
    void finishLoading();

public:
    // The whole run, or the readings in the shown time range, into a CSV file (LogCsv.h), on a worker thread.
    // The name is asked with a TSaveDialog; exported() follows.
    void exportCsv(bool shownRange);

private:
    // Double-click: the chart as shown into a bitmap file.
    void savePicture();

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
