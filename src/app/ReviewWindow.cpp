#include "app/ReviewWindow.h"

#include "app/SaveDialog.h"
#include "base/ErrorReport.h"
#include "chart/ChartLanes.h"
#include "chart/DialogFolders.h"
#include "chart/StripChart.h"
#include "record/LogCsv.h"
#include "record/LogLoader.h"
#include "record/LogReader.h"
#include "record/LogRun.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <qcustomplot.h>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

QString clockText(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

// "run-0412.txt", "logs" for a folder, "velmora-2026-04-10_09-00-00.txt + 89 more".
QString runTitle(const QStringList& paths)
{
    if (paths.size() == 1 && QFileInfo(paths.front()).isDir())
        return QDir(paths.front()).dirName();
    const QStringList files = LogFilesIn(paths);
    const QString first = QFileInfo(files.isEmpty() ? paths.value(0) : files.front()).fileName();
    return files.size() > 1 ? QStringLiteral("%1 + %2 more").arg(first).arg(files.size() - 1) : first;
}

// The file dialogs' kind for log files and folders (DialogFolders).
const QString LogKind = QStringLiteral("log");

// The readings' instants as seconds since 1970-01-01 00:00 UTC, the chart's clock-time keys.
std::vector<double> chartKeys(const TLogData& data)
{
    std::vector<double> keys(data.count());
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = static_cast<double>(data.times[i]) / 1000.0;
    return keys;
}

} // namespace

TReviewWindow::TReviewWindow(const QStringList& paths, const QTimeZone& zone, QWidget* parent)
    : QMainWindow(parent), FPaths(paths), FZone(zone.isValid() ? zone : QTimeZone::systemTimeZone())
{
    setObjectName(QStringLiteral("ReviewWindow"));
    setWindowTitle(runTitle(paths) + QStringLiteral(" - ") + QCoreApplication::applicationName());
    resize(1000, 640);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    FPlot = new QCustomPlot(central);
    FPlot->setObjectName(QStringLiteral("ReviewChart"));
    FPlot->hide(); // until the file is read
    layout->addWidget(FPlot, 1);
    FReport = new QPlainTextEdit(central);
    FReport->setObjectName(QStringLiteral("ReviewReport"));
    FReport->setReadOnly(true);
    FReport->setMaximumHeight(FReport->fontMetrics().lineSpacing() * 6 + 12);
    FReport->hide();
    layout->addWidget(FReport);
    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open log files..."), this, [this] { OpenLogFileDialog(this); });
    file->addAction(tr("Open log &folder..."), this, [this] { OpenLogFolderDialog(this); });
    file->addSeparator();
    file->addAction(tr("&Export as CSV..."), this, [this] { exportCsv(false); });
    file->addAction(tr("Export shown &range as CSV..."), this, [this] { exportCsv(true); });

    FStatus = new QLabel(statusBar());
    FStatus->setObjectName(QStringLiteral("ReviewStatus"));
    statusBar()->addWidget(FStatus, 1);
    FProgress = new QProgressBar(statusBar());
    FProgress->setObjectName(QStringLiteral("ReviewProgress"));
    FProgress->setRange(0, 100);
    FProgress->setMaximumWidth(240);
    statusBar()->addPermanentWidget(FProgress);
    FCancel = new QPushButton(tr("Cancel"), statusBar());
    FCancel->setObjectName(QStringLiteral("ReviewCancel"));
    statusBar()->addPermanentWidget(FCancel);

    FLoader = new TLogLoader(this);
    connect(FLoader, &TLogLoader::progress, FProgress, &QProgressBar::setValue);
    connect(FLoader, &TLogLoader::finished, this, [this] {
        try {
            FData = std::make_unique<TLogRun>(FLoader->takeResult());
            showData();
        } catch (...) {
            ReportCurrentException();
            finishLoading();
        }
    });
    connect(FCancel, &QPushButton::clicked, this, &TReviewWindow::cancelLoading);
    FStatus->setText(tr("Reading %1...").arg(QDir::toNativeSeparators(paths.join(QStringLiteral(", ")))));
    FLoader->start(paths, FZone);
}

TReviewWindow::~TReviewWindow()
{
    if (FExport) {
        FExport->wait();
        delete FExport;
    }
}

bool TReviewWindow::loading() const
{
    return FLoader->isRunning() || FData;
}

QString TReviewWindow::statusText() const
{
    return FStatus->text();
}

QStringList TReviewWindow::report() const
{
    const QString text = FReport->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void TReviewWindow::cancelLoading()
{
    FLoader->cancel();
    FCancel->setEnabled(false);
}

void TReviewWindow::updateSummary()
{
    QString summary;
    if (FSummary.readings == 0)
        summary = tr("No readings shown");
    else
        summary = (FSummary.files > 1 ? tr("%1 readings in %2 files").arg(FSummary.readings).arg(FSummary.files)
                                      : tr("%1 readings").arg(FSummary.readings))
                  + tr(" from %1 to %2").arg(clockText(FSummary.first), clockText(FSummary.last));
    if (FSummary.gaps == 1)
        summary += tr("; 1 gap");
    else if (FSummary.gaps > 1)
        summary += tr("; %1 gaps").arg(FSummary.gaps);
    if (FSummary.cancelled)
        summary += tr("; reading cancelled");
    if (!FReport->toPlainText().isEmpty())
        summary += tr("; see the notes below");
    if (!FReadAgainNote.isEmpty())
        summary = FReadAgainNote + QStringLiteral("; ") + summary;
    FStatus->setText(summary);
}

void TReviewWindow::showData()
{
    const TLogData& log = FData->data;
    const QStringList problems = FData->report();
    FReport->setPlainText(problems.join(QLatin1Char('\n')));
    FReport->setVisible(!problems.isEmpty());

    FSummary = decltype(FSummary){};
    FSummary.readings = static_cast<qsizetype>(log.count());
    FSummary.files = FData->files.size();
    FSummary.gaps = log.gaps.size();
    FSummary.cancelled = log.cancelled;
    if (log.count() > 0) {
        FSummary.first = log.clockTime(0);
        FSummary.last = log.clockTime(log.count() - 1);
    }
    updateSummary();
    FReadAgainNote.clear();

    const int columns = static_cast<int>(log.values.size());
    FChart = std::make_unique<TStripChart>(FPlot, std::max(columns, 1));
    FChart->setKeyAxis(TStripChart::TKeyAxis::ClockTime);
    // Day ticks at local midnight: the ticker keeps the time of day of its origin, by default 1970-01-01
    // 00:00 UTC, which is 01:00 in London or Berlin.
    if (auto ticker = FPlot->xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>()) {
        ticker->setTimeZone(FZone);
        ticker->setTickOrigin(QDateTime(QDate(2000, 1, 1), QTime(0, 0), FZone));
    }
    FPlot->yAxis->setLabel(tr("Logged Value"));
    FPlot->legend->setVisible(columns > 0);
    for (int c = 0; c < columns; ++c)
        FChart->setSeriesTitle(c, log.titles.value(c));
    FChart->setLanes(true);
    addLanesEntry(*FChart);
    addOpenLogFileEntry(*FChart, this);
    ConnectHandler(FChart.get(), &TStripChart::doubleClicked, this, &TReviewWindow::savePicture);
    FChart->reserve(static_cast<qsizetype>(log.count() + log.gaps.size()));
    FKeys = chartKeys(log);
    showBandsAndEvents(*FData);
    FData->data.times = TLogTimes();
    FColumn = 0;
    QTimer::singleShot(0, this, &TReviewWindow::fillColumn);
}

// One column into the chart per turn of the event loop, so that the window stays responsive; each column
// is let go once its points are in the chart.
void TReviewWindow::fillColumn()
{
    try {
        TLogData& log = FData->data;
        if (FColumn < static_cast<int>(log.values.size())) {
            const TLogColumn& values = log.values[static_cast<size_t>(FColumn)];
            std::vector<QCPGraphData> piece;
            piece.reserve(65536);
            auto gap = log.gaps.begin();
            for (size_t i = 0; i < FKeys.size(); ++i) {
                if (gap != log.gaps.end() && *gap == i) {
                    piece.emplace_back((FKeys[i - 1] + FKeys[i]) / 2, std::numeric_limits<double>::quiet_NaN());
                    ++gap;
                }
                // An infinite value (written as "inf") is drawn as a gap, as a NaN is.
                piece.emplace_back(FKeys[i],
                                   std::isfinite(values[i]) ? values[i] : std::numeric_limits<double>::quiet_NaN());
                if (piece.size() + 2 > piece.capacity() || i + 1 == FKeys.size()) {
                    FChart->addSeriesPoints(FColumn, piece);
                    piece.clear();
                }
            }
            log.values[static_cast<size_t>(FColumn++)] = TLogColumn();
            QTimer::singleShot(0, this, &TReviewWindow::fillColumn);
            return;
        }
    } catch (...) {
        ReportCurrentException();
    }
    finishLoading();
}

void TReviewWindow::finishLoading()
{
    FData.reset();
    FKeys = std::vector<double>();
    if (FChart)
        FPlot->show();
    FProgress->hide();
    FCancel->hide();
    startFollowing();
    emit loaded();
}

// The chart holds no times of its own to write: the files are read again and written on a thread of the
// export's own; the window goes on meanwhile, and its status bar says when the file is written.
void TReviewWindow::exportCsv(bool shownRange)
{
    try {
        if (FExport) {
            statusBar()->showMessage(tr("An export is under way"), 5000);
            return;
        }
        TSaveDialog dialog;
        dialog.SetDefaultExt(QStringLiteral("csv"));
        dialog.SetFilter(QStringLiteral("CSV files (*.csv)|*.csv"));
        dialog.SetOptions(TSaveDialog::OverwritePrompt);
        if (!dialog.Execute(this))
            return;
        const QString fileName = dialog.FileName();
        QCPRange shown(-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity());
        if (shownRange && FChart)
            shown = FPlot->xAxis->range();
        auto outcome = std::make_shared<std::pair<size_t, QString>>(); // readings written, or what failed
        FExport = QThread::create([paths = FPaths, zone = FZone, fileName, shown, outcome] {
            try {
                const TLogRun run = ReadLogRun(paths, {}, zone);
                const TLogTimes& t = run.data.times;
                const auto ms = [](double key) { return std::clamp(key * 1000, -9e18, 9e18); };
                const auto from = static_cast<size_t>(
                    std::lower_bound(t.begin(), t.end(), ms(shown.lower),
                                     [](int64_t time, double key) { return static_cast<double>(time) < key; })
                    - t.begin());
                const auto to = static_cast<size_t>(
                    std::upper_bound(t.begin(), t.end(), ms(shown.upper),
                                     [](double key, int64_t time) { return key < static_cast<double>(time); })
                    - t.begin());
                if (WriteLogCsv(fileName, run.data, from, std::max(from, to), &outcome->second))
                    outcome->first = std::max(from, to) - from;
                else if (outcome->second.isEmpty())
                    outcome->second = QStringLiteral("The file could not be written.");
            } catch (const std::exception& error) {
                outcome->second = QString::fromStdString(error.what());
            } catch (...) {
                outcome->second = QStringLiteral("The file could not be written.");
            }
        });
        connect(FExport, &QThread::finished, this, [this, fileName, outcome] {
            FExport->deleteLater();
            FExport = nullptr;
            if (outcome->second.isEmpty())
                statusBar()->showMessage(
                    tr("%1 readings written to %2").arg(outcome->first).arg(QDir::toNativeSeparators(fileName)), 10000);
            else
                ReportApplicationError(
                    std::runtime_error(tr("Cannot write %1: %2").arg(fileName, outcome->second).toStdString()));
            emit exported(fileName, outcome->second);
        });
        FExport->start();
    } catch (...) {
        ReportCurrentException();
    }
}

void TReviewWindow::savePicture()
{
    TSaveDialog dialog;
    dialog.SetDefaultExt(QStringLiteral("bmp"));
    dialog.SetFilter(QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
    dialog.SetOptions(TSaveDialog::OverwritePrompt);
    if (dialog.Execute(this))
        FChart->saveBitmap(dialog.FileName());
}

TReviewWindow* OpenReviewWindow(const QStringList& paths, QWidget* parent)
{
    auto* window = new TReviewWindow(paths, QTimeZone::systemTimeZone(), parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowFlag(Qt::Window); // a window of its own, kept above its parent
    window->show();
    return window;
}

TReviewWindow* OpenLogFileDialog(QWidget* parent)
{
    try {
        const QStringList paths =
            QFileDialog::getOpenFileNames(parent, QObject::tr("Open log files"), DialogFolders::folder(LogKind),
                                          QObject::tr("Log files (*.txt);;All files (*)"));
        if (paths.isEmpty())
            return nullptr;
        DialogFolders::remember(LogKind, paths.front());
        return OpenReviewWindow(paths, parent);
    } catch (...) {
        ReportCurrentException();
        return nullptr;
    }
}

TReviewWindow* OpenLogFolderDialog(QWidget* parent)
{
    try {
        const QString folder = QFileDialog::getExistingDirectory(parent, QObject::tr("Open a folder of log files"),
                                                                 DialogFolders::folder(LogKind));
        if (folder.isEmpty())
            return nullptr;
        DialogFolders::remember(LogKind, folder);
        return OpenReviewWindow(QStringList{folder}, parent);
    } catch (...) {
        ReportCurrentException();
        return nullptr;
    }
}

void addOpenLogFileEntry(TStripChart& chart, QWidget* window)
{
    auto* open = new QAction(QObject::tr("Open log file..."), window);
    open->setObjectName(QStringLiteral("OpenLogFileItem"));
    QObject::connect(open, &QAction::triggered, window, [window] { OpenLogFileDialog(window); });
    chart.addMenuAction(open);
}
