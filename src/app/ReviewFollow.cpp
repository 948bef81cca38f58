// The review window's bands (gaps, alarms), its events, the readout's written times and following the last
// file as it grows.
#include "app/ReviewWindow.h"

#include "base/ErrorReport.h"
#include "chart/ChartBands.h"
#include "chart/StripChart.h"
#include "record/EventsLog.h"
#include "record/LogLoader.h"
#include "record/LogRun.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <qcustomplot.h>

namespace {

const QColor GapColour(120, 120, 120, 60);
const QColor AlarmColour(230, 40, 40, 45);
const QColor EventColour(200, 90, 0, 160);

// "+01:00", "-03:30", "+00:00".
QString offsetText(int32_t seconds)
{
    const int32_t minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString TReviewWindow::followNote() const
{
    return FFollowLabel && FFollowLabel->isVisibleTo(this) ? FFollowLabel->text() : QString();
}

// Called with the run read, before its times are let go.
void TReviewWindow::showBandsAndEvents(const TLogRun& run)
{
    const TLogData& log = run.data;
    FGapBands = new TChartBands(FPlot, GapColour);
    for (const size_t g : log.gaps)
        if (g > 0 && g < log.count())
            FGapBands->addBand(static_cast<double>(log.times[g - 1]) / 1000, static_cast<double>(log.times[g]) / 1000);
    FOffsets.clear();
    for (const TLogOffset& o : log.offsets)
        if (o.first < log.count())
            FOffsets.emplace_back(log.times[o.first], o.seconds);
    FSpacing = log.medianSpacing;
    FLastKey = log.count() ? static_cast<double>(log.times.back()) / 1000 : std::numeric_limits<double>::quiet_NaN();

    // The events files beside the logs: alarms shaded, events marked and read out.
    FAlarmBands = new TChartBands(FPlot, AlarmColour);
    FEventMarks = new TChartBands(FPlot, EventColour);
    FEventFiles.clear();
    for (const TLogSource& file : run.files)
        FEventFiles << EventsFileOf(file.fileName);
    FEventsSize = FEventFiles.isEmpty() ? -1 : QFileInfo(FEventFiles.back()).size();
    readEvents(true);

    FChart->setKeyTextFormat([this](double key) { return writtenTimeText(key); });
    FChart->setReadoutNotes([this](double key) { return eventsNear(key); });

    // The last file is followed once drawn, from the end of the last whole line read.
    FFollowFile.clear();
    if (!log.cancelled && !run.files.empty()) {
        const TLogSource& last = run.files.back();
        // A last line cut short was skipped: it is taken again once ended. A last line complete but not
        // ended was kept: its end, when it comes, is not a line of its own.
        bool cut = false, open = false;
        for (const TLogProblem& p : last.problems) {
            cut = cut || p.kind == TLogProblem::CutShort;
            open = open || p.kind == TLogProblem::NoLineEnd;
        }
        FFollowFile = last.fileName;
        FFollowLines = std::max<int64_t>(last.lineCount - (cut || open ? 1 : 0), 0);
        FFollowSkip = open ? 1 : 0;
    }
    if (!FFollowLabel) {
        FFollowLabel = new QLabel(statusBar());
        FFollowLabel->setObjectName(QStringLiteral("ReviewFollowNote"));
        statusBar()->addPermanentWidget(FFollowLabel);
        FFollowLabel->hide();
    }
    connect(FChart.get(), &TStripChart::viewChanged, this, &TReviewWindow::updateFollowNote);
}

// The events of every file into FEvents, the alarm bands and the event marks; their problems into the report
// when `report`.
void TReviewWindow::readEvents(bool report)
{
    FAlarmBands->clear();
    FEventMarks->clear();
    FEvents.clear();
    QStringList notes;
    for (const QString& name : std::as_const(FEventFiles)) {
        TEventsLog events = ReadEventsFile(name, FZone);
        for (const TLogProblem& p : events.problems)
            notes << QFileInfo(name).fileName() + QStringLiteral(": ") + p.text();
        for (const TAlarmPeriod& a : events.alarmPeriods())
            FAlarmBands->addBand(static_cast<double>(a.from) / 1000, static_cast<double>(a.to) / 1000);
        for (TLoggedEvent& e : events.events) {
            FEventMarks->addMarker(static_cast<double>(e.time.utc) / 1000);
            FEvents.push_back(std::move(e));
        }
    }
    std::stable_sort(FEvents.begin(), FEvents.end(),
                     [](const TLoggedEvent& a, const TLoggedEvent& b) { return a.time.utc < b.time.utc; });
    if (report && !notes.isEmpty()) {
        const QString before = FReport->toPlainText();
        FReport->setPlainText(before.isEmpty() ? notes.join(QLatin1Char('\n'))
                                               : QString(before + QLatin1Char('\n') + notes.join(QLatin1Char('\n'))));
        FReport->show();
    }
}

// The written time of the reading at `key` with the offset it was written in: "31/10/2027 01:30:00.000 +01:00".
QString TReviewWindow::writtenTimeText(double key) const
{
    if (!std::isfinite(key) || std::abs(key) > 8e12)
        return QString();
    const int64_t ms = std::llround(key * 1000);
    const auto at = std::upper_bound(FOffsets.begin(), FOffsets.end(), ms,
                                     [](int64_t t, const std::pair<int64_t, int32_t>& o) { return t < o.first; });
    const int32_t offset = at == FOffsets.begin()
                               ? FZone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()))
                               : std::prev(at)->second;
    const QDateTime written = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone(offset));
    return written.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz ")) + offsetText(offset);
}

// The events within half a reading's spacing of `key`, or within a few pixels at this zoom.
QStringList TReviewWindow::eventsNear(double key) const
{
    QStringList texts;
    if (FEvents.empty() || !FPlot)
        return texts;
    const int width = FPlot->axisRect()->width();
    const double pixel = width >= 100 ? FPlot->xAxis->range().size() / width : 0; // not laid out yet: none
    const double reach = std::max(static_cast<double>(FSpacing) / 2000, 4 * pixel);
    const auto from = std::lower_bound(FEvents.begin(), FEvents.end(), std::llround((key - reach) * 1000),
                                       [](const TLoggedEvent& e, int64_t t) { return e.time.utc < t; });
    for (auto e = from; e != FEvents.end() && static_cast<double>(e->time.utc) / 1000 <= key + reach; ++e)
        texts << e->text();
    return texts;
}

void TReviewWindow::startFollowing()
{
    delete FFollower;
    FFollower = nullptr;
    if (FFollowFile.isEmpty() || !FChart)
        return;
    const int64_t offset = LogLinesEnd(FFollowFile, FFollowLines);
    if (offset < 0)
        return;
    {
        QFile file(FFollowFile);
        FFollowHeader = file.open(QIODevice::ReadOnly) ? file.readLine(4096) : QByteArray();
    }
    if (FFollowLines == 0)
        FFollowHeader.clear(); // the header comes with the first lines
    FFollower = new TLogFollower(FFollowFile, offset, FFollowOptions, this);
    connect(FFollower, &TLogFollower::appended, this, [this](const QByteArray& lines) {
        try {
            addFollowedLines(lines);
        } catch (...) {
            ReportCurrentException();
        }
    });
    connect(FFollower, &TLogFollower::restarted, this, [this](const QString& why) {
        try {
            readAgain(why);
        } catch (...) {
            ReportCurrentException();
        }
    });
    FFollowLabel->setText(tr("Following %1").arg(QFileInfo(FFollowFile).fileName()));
    FFollower->start();
    updateFollowNote();
}

void TReviewWindow::updateFollowNote()
{
    if (FFollowLabel)
        FFollowLabel->setVisible(FFollower && FFollower->following() && FChart
                                 && FChart->view() != TStripChart::TView::Held);
}

// New whole lines of the followed file: parsed after its header, drawn after the run's last reading; a step
// longer than three times the run's spacing is a gap.
void TReviewWindow::addFollowedLines(const QByteArray& appended)
{
    if (!FChart)
        return;
    QByteArray lines = appended;
    for (; FFollowSkip > 0 && !lines.isEmpty(); --FFollowSkip, ++FFollowLines)
        lines.remove(0, lines.indexOf('\n') + 1);
    if (lines.isEmpty())
        return;
    TLogParser parser(FZone);
    const bool headed = !FFollowHeader.isEmpty();
    if (headed)
        parser.feed(std::string_view(FFollowHeader.constData(), static_cast<size_t>(FFollowHeader.size())));
    else
        FFollowHeader = lines.left(lines.indexOf('\n') + 1);
    parser.feed(std::string_view(lines.constData(), static_cast<size_t>(lines.size())));
    TLogData read = parser.finish();
    const int64_t before = FFollowLines - (headed ? 1 : 0); // the parser's line n is the file's line n + before
    FFollowLines += lines.count('\n');

    QStringList notes;
    for (TLogProblem p : read.problems) {
        if (p.kind == TLogProblem::TimeBack)
            continue;
        if (p.firstLine > 0)
            p.firstLine += before;
        notes << QFileInfo(FFollowFile).fileName() + QStringLiteral(": ") + p.text();
    }
    if (!notes.isEmpty()) {
        FReport->appendPlainText(notes.join(QLatin1Char('\n')));
        FReport->show();
    }

    const int series = FChart->seriesCount();
    std::vector<int> target(static_cast<size_t>(read.titles.size()), -1);
    for (qsizetype c = 0; c < read.titles.size(); ++c)
        for (int s = 0; s < series; ++s)
            if (FChart->series(s)->name() == read.titles[c])
                target[static_cast<size_t>(c)] = s;
    std::vector<std::vector<QCPGraphData>> points(static_cast<size_t>(series));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double gapAfter = FSpacing > 0 ? 3.0 * static_cast<double>(FSpacing) / 1000 : 0;
    for (size_t i = 0; i < read.count(); ++i) {
        const double key = static_cast<double>(read.times[i]) / 1000;
        if (gapAfter > 0 && std::isfinite(FLastKey) && key - FLastKey > gapAfter) {
            for (auto& p : points)
                p.emplace_back((FLastKey + key) / 2, nan);
            FGapBands->addBand(FLastKey, key);
            ++FSummary.gaps;
        }
        for (size_t c = 0; c < target.size(); ++c)
            if (target[c] >= 0) {
                const double v = read.values[c][i];
                points[static_cast<size_t>(target[c])].emplace_back(key, std::isfinite(v) ? v : nan);
            }
        FLastKey = std::isfinite(FLastKey) ? std::max(FLastKey, key) : key;
    }
    if (read.count() > 0) {
        if (FSummary.readings == 0)
            FSummary.first = read.clockTime(0);
        FSummary.readings += static_cast<qsizetype>(read.count());
        FSummary.last = read.clockTime(read.count() - 1);
    }
    for (const TLogOffset& o : read.offsets)
        if (o.first < read.count() && (FOffsets.empty() || FOffsets.back().second != o.seconds))
            FOffsets.emplace_back(read.times[o.first], o.seconds);
    for (int s = 0; s < series; ++s)
        if (!points[static_cast<size_t>(s)].empty())
            FChart->addSeriesPoints(s, points[static_cast<size_t>(s)]);
    // The service writes the events beside the log as they happen: read again when the last one changed.
    if (!FEventFiles.isEmpty()) {
        const qint64 size = QFileInfo(FEventFiles.back()).size();
        if (size != FEventsSize) {
            FEventsSize = size;
            readEvents(false);
        }
    }
    updateSummary();
    emit followedLines();
}

// The followed file shrank or was replaced: the run is read again, in a fresh chart.
void TReviewWindow::readAgain(const QString& why)
{
    if (loading())
        return;
    FFollower->deleteLater();
    FFollower = nullptr;
    FReadAgainNote = why;
    FChart.reset();
    auto* layout = qobject_cast<QVBoxLayout*>(centralWidget()->layout());
    auto* plot = new QCustomPlot(centralWidget());
    plot->setObjectName(QStringLiteral("ReviewChart"));
    plot->hide();
    delete layout->replaceWidget(FPlot, plot); // the item that held the old plot is ours
    delete FPlot; // and the bands on it
    FPlot = plot;
    FGapBands = FAlarmBands = FEventMarks = nullptr;
    FFollowLabel->hide();
    FProgress->setValue(0);
    FProgress->show();
    FCancel->setEnabled(true);
    FCancel->show();
    FLoader->start(FPaths, FZone);
}
