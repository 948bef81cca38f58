#include "app/ReviewWindow.h"

#include "app/SaveDialog.h"
#include "chart/StripChart.h"
#include "record/LogLoader.h"
#include "record/LogReader.h"
#include "serial/ErrorReport.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <qcustomplot.h>

namespace {

QString clockText(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

// Column `c` as chart points: keys in seconds of the written clock, a NaN point between two stretches.
QVector<QCPGraphData> columnPoints(const TLogData& data, size_t c)
{
    QVector<QCPGraphData> points;
    points.reserve(static_cast<qsizetype>(data.count() + data.gaps.size()));
    auto gap = data.gaps.begin();
    for (size_t i = 0; i < data.count(); ++i) {
        const double key = static_cast<double>(data.times[i]) / 1000.0;
        if (gap != data.gaps.end() && *gap == i) {
            const double before = static_cast<double>(data.times[i - 1]) / 1000.0;
            points.append(QCPGraphData((before + key) / 2, std::numeric_limits<double>::quiet_NaN()));
            ++gap;
        }
        points.append(QCPGraphData(key, data.values[c][i]));
    }
    return points;
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

    FChart = std::make_unique<TStripChart>(FPlot, TStripChart::MaxSeriesCount);
    FChart->setClockTimeAxis();
    FPlot->yAxis->setLabel(tr("Logged Value"));
    for (int i = 0; i < FChart->seriesCount(); ++i) // named when the file's layout is known
        FChart->series(i)->removeFromLegend();

    FLoader = new TLogLoader(this);
    connect(FLoader, &TLogLoader::progress, this, &TReviewWindow::progress);
    connect(FLoader, &TLogLoader::finished, this, [this] {
        try {
            TLogData data = FLoader->takeResult();
            showData(data);
        } catch (...) {
            ReportCurrentException();
        }
        FProgress->hide();
        FCancel->hide();
        emit loaded();
    });
    connect(FCancel, &QPushButton::clicked, this, &TReviewWindow::cancelLoading);
    ConnectHandler(FPlot, &QCustomPlot::mouseDoubleClick, this, &TReviewWindow::savePicture);
    FStatus->setText(tr("Reading %1...").arg(QDir::toNativeSeparators(fileName)));
    FLoader->start(fileName);
}

TReviewWindow::~TReviewWindow() = default;

bool TReviewWindow::loading() const
{
    return FLoader->isRunning();
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

void TReviewWindow::progress(int percent)
{
    FProgress->setValue(percent);
}

void TReviewWindow::showData(TLogData& data)
{
    const QStringList problems = data.report();
    FReport->setPlainText(problems.join(QLatin1Char('\n')));
    FReport->setVisible(!problems.isEmpty());

    QString summary;
    if (data.count() == 0) {
        summary = tr("No readings shown");
    } else {
        summary = tr("%1 readings from %2 to %3")
                      .arg(data.count())
                      .arg(clockText(data.clockTime(0)), clockText(data.clockTime(data.count() - 1)));
        if (data.gaps.size() == 1)
            summary += tr("; 1 gap");
        else if (!data.gaps.empty())
            summary += tr("; %1 gaps").arg(data.gaps.size());
    }
    if (data.cancelled)
        summary += tr("; reading cancelled");
    if (!problems.isEmpty())
        summary += tr("; see the notes below");
    FStatus->setText(summary);

    // One series per value column; each column is let go once its points are in the chart.
    for (int i = 0; i < FChart->seriesCount(); ++i) {
        QCPGraph* series = FChart->series(i);
        const bool used = static_cast<size_t>(i) < data.values.size();
        series->setVisible(used);
        if (!used)
            continue;
        series->setName(data.titles.value(i));
        series->addToLegend();
        FChart->setPoints(i, columnPoints(data, static_cast<size_t>(i)));
        data.values[static_cast<size_t>(i)] = TLogColumn();
    }
    FPlot->replot(QCustomPlot::rpQueuedReplot);
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
    window->setWindowFlag(Qt::Window); // a window of its own, above its parent
    window->show();
    return window;
}

TReviewWindow* OpenLogFileDialog(QWidget* parent)
{
    const QString fileName = QFileDialog::getOpenFileName(parent, QObject::tr("Open log file"), QString(),
                                                          QObject::tr("Log files (*.txt);;All files (*)"));
    return fileName.isEmpty() ? nullptr : OpenReviewWindow(fileName, parent);
}
