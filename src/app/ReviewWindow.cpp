#include "app/ReviewWindow.h"

#include "app/SaveDialog.h"
#include "base/ErrorReport.h"
#include "chart/StripChart.h"
#include "record/LogLoader.h"
#include "record/LogReader.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <qcustomplot.h>
#include <vector>

namespace {

constexpr int64_t MsPerHour = 3600000;

QString clockText(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

// The written local clock times (ms since 1970-01-01 00:00 of that clock) as seconds since 1970-01-01
// 00:00 UTC, the chart's clock-time keys. The offset from UTC is looked up once per hour of the clock.
std::vector<double> chartKeys(const TLogData& data)
{
    std::vector<double> keys(data.count());
    int64_t hour = std::numeric_limits<int64_t>::min();
    int64_t offset = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        const int64_t t = data.times[i];
        const int64_t h = (t >= 0 ? t : t - MsPerHour + 1) / MsPerHour;
        if (h != hour) {
            hour = h;
            const QDateTime utc = QDateTime::fromMSecsSinceEpoch(h * MsPerHour, Qt::UTC);
            offset = QDateTime(utc.date(), utc.time(), Qt::LocalTime).offsetFromUtc() * 1000LL;
        }
        keys[i] = static_cast<double>(t - offset) / 1000.0;
    }
    return keys;
}

} // namespace

TReviewWindow::TReviewWindow(const QString& fileName, QWidget* parent) : QMainWindow(parent), FFileName(fileName)
{
    setObjectName(QStringLiteral("ReviewWindow"));
    setWindowTitle(QFileInfo(fileName).fileName() + QStringLiteral(" - ") + QCoreApplication::applicationName());
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
            FData = std::make_unique<TLogData>(FLoader->takeResult());
            showData();
        } catch (...) {
            ReportCurrentException();
            finishLoading();
        }
    });
    connect(FCancel, &QPushButton::clicked, this, &TReviewWindow::cancelLoading);
    FStatus->setText(tr("Reading %1...").arg(QDir::toNativeSeparators(fileName)));
    FLoader->start(fileName);
}

TReviewWindow::~TReviewWindow() = default;

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

void TReviewWindow::showData()
{
    const TLogData& log = *FData;
    const QStringList problems = log.report();
    FReport->setPlainText(problems.join(QLatin1Char('\n')));
    FReport->setVisible(!problems.isEmpty());

    QString summary;
    if (log.count() == 0)
        summary = tr("No readings shown");
    else
        summary = tr("%1 readings from %2 to %3")
                      .arg(log.count())
                      .arg(clockText(log.clockTime(0)), clockText(log.clockTime(log.count() - 1)));
    if (log.gaps.size() == 1)
        summary += tr("; 1 gap");
    else if (!log.gaps.empty())
        summary += tr("; %1 gaps").arg(log.gaps.size());
    if (log.cancelled)
        summary += tr("; reading cancelled");
    if (!problems.isEmpty())
        summary += tr("; see the notes below");
    FStatus->setText(summary);

    const int columns = static_cast<int>(log.values.size());
    FChart = std::make_unique<TStripChart>(FPlot, std::max(columns, 1));
    FChart->setKeyAxis(TStripChart::TKeyAxis::ClockTime);
    // Day ticks at local midnight: the ticker keeps the time of day of its origin, by default 1970-01-01
    // 00:00 UTC, which is 01:00 in London or Berlin.
    if (auto ticker = FPlot->xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>())
        ticker->setTickOrigin(QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::LocalTime));
    FPlot->yAxis->setLabel(tr("Logged Value"));
    FPlot->legend->setVisible(columns > 0);
    for (int c = 0; c < columns; ++c)
        FChart->setSeriesTitle(c, log.titles.value(c));
    addOpenLogFileEntry(*FChart, this);
    ConnectHandler(FPlot, &QCustomPlot::mouseDoubleClick, this, &TReviewWindow::savePicture);
    FChart->reserve(static_cast<qsizetype>(log.count() + log.gaps.size()));
    FKeys = chartKeys(log);
    FData->times = TLogTimes();
    FColumn = 0;
    QTimer::singleShot(0, this, &TReviewWindow::fillColumn);
}

// One column into the chart per turn of the event loop, so that the window stays responsive; each column
// is let go once its points are in the chart.
void TReviewWindow::fillColumn()
{
    try {
        if (FColumn < static_cast<int>(FData->values.size())) {
            const TLogColumn& values = FData->values[static_cast<size_t>(FColumn)];
            std::vector<QCPGraphData> piece;
            piece.reserve(65536);
            auto gap = FData->gaps.begin();
            for (size_t i = 0; i < FKeys.size(); ++i) {
                if (gap != FData->gaps.end() && *gap == i) {
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
            FData->values[static_cast<size_t>(FColumn++)] = TLogColumn();
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
    emit loaded();
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

TReviewWindow* OpenReviewWindow(const QString& fileName, QWidget* parent)
{
    auto* window = new TReviewWindow(fileName, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowFlag(Qt::Window); // a window of its own, kept above its parent
    window->show();
    return window;
}

TReviewWindow* OpenLogFileDialog(QWidget* parent)
{
    try {
        const QString fileName = QFileDialog::getOpenFileName(parent, QObject::tr("Open log file"), QString(),
                                                              QObject::tr("Log files (*.txt);;All files (*)"));
        return fileName.isEmpty() ? nullptr : OpenReviewWindow(fileName, parent);
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
